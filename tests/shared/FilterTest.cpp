#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "shared/Module_Filter.h"
#include "shared/PatternMatcher.h"
#include "tests/TestSupport.h"

namespace {

struct Rule {
  std::string tag, pattern;
  bool operator==(const Rule&) const = default;
};
using Rules = std::vector<Rule>;

Rules RulesOf(const FilterRuleList& list) {
  Rules rules;
  for (std::size_t i = 0; i < list.Tags.size(); ++i) rules.push_back({list.Tags[i], list.Patterns[i]});
  return rules;
}

FilterTable Parse(const std::string& text) {
  FilterTable table;
  ParseFilterText(text, "Filter.ini", &table);
  return table;
}

TEST(FilterFile, ReadsCommaDelimitedRecordsWhateverTheLineBreaks) {
  FilterTable t = Parse(
      "\xEF\xBB\xBF\"SPAM-\",\"Subject: \",\"viagra\"\r\n"
      "  \"bulkW\" , \"FROM: \",\"a, b,\"\n"                // blanks before fields, commas inside quotes
      "\"x\",\"From:\",\"ignored\"\r"                       // no blank after the colon: ignored
      "\"y\",\"Cc: \",\"ignored\"\r\n"
      "\"split\"\r\n\"to: \"\n\"over lines\"\r\n"          // one record over three lines
      "plain ,\"Newsgroups: \",alt.bin  \r\n"             // unquoted fields lose trailing blanks
      "\r\n\"Subject: \",\"\"\r\n"                          // a blank line is one empty field
      "\"multi\",\"Subject: \",\"two\r\nlines\"\r\n");
  EXPECT_EQ(RulesOf(t.SubjectList), (Rules{{"SPAM-", "viagra"}, {"", ""}, {"multi", "two\r\nlines"}}));
  EXPECT_EQ(RulesOf(t.FromList), (Rules{{"bulkW", "a, b,"}}));
  EXPECT_EQ(RulesOf(t.ToList), (Rules{{"split", "over lines"}}));
  EXPECT_EQ(RulesOf(t.NewsgroupsList), (Rules{{"plain", "alt.bin"}}));
  EXPECT_EQ(Parse("").FromList.RuleCount(), 0);
}

TEST(FilterFile, ReportsARecordCutShortOrAnOpenQuote) {
  struct Case { const char* text; const char* message; } cases[] = {
      {"\"a\",\"From: \",\"x\"\r\n\"b\",\"From: \"\r\n", "Filter.ini: ends inside a record (line 2 has 2 of 3"},
      {"\"a\",\"From: \",\"x\"\r\n\r\n", "Filter.ini: ends inside a record (line 2 has 1 of 3"},
      {"\"a\",\"From: \",\"x", "Filter.ini: a double quote on line 1 is never closed"},
  };
  for (const Case& c : cases) {
    try {
      Parse(c.text);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const FilterFileError& e) {
      EXPECT_EQ(std::string(e.what()).find(c.message), 0u) << e.what();
    }
  }
}

// Files no rule file is, each loaded in a child held to 1 GiB of address
// space (not under AddressSanitizer, which reserves far more and then skips
// the row that needs the limit), so that a load which tries to hold one ends
// the child.
TEST(FilterFile, RefusesHugeFilesInOneLineWithinBoundedMemory) {
  test_support::TempFolder temp;
  const std::string ini = temp / "Filter.ini", too_large = ini + ": is larger than 64 MiB, too large for rules";
  const std::uint64_t bound = kMaxFilterFileSize;
  // A file of `head`, then a hole of zero bytes up to `size`, then `tail`; size 0: a link to
  // /proc/self/pagemap, which reports length 0.
  struct Case { std::string head; std::uint64_t size; std::string tail, error; bool needs_limit = false; } cases[] = {
      {"", bound + 1, "", too_large},
      {"", std::uint64_t{4} << 30, "", too_large},
      {"\"", std::uint64_t{3} << 30, "", too_large},
      {"", 0, "", too_large},
      {"", bound, "", ini + ": ends inside a record (line 1 has 1 of 3 fields: tag, header word, pattern)"},
      {"\"a\",\"From: \",\"", bound, "\"\r\n", ini + ": its patterns do not fit in memory", true},
  };
  for (const Case& c : cases) {
    if (c.needs_limit && KESTRANE_SANITIZED) continue;
    std::filesystem::remove(ini);
    if (c.size == 0) {
      std::filesystem::create_symlink("/proc/self/pagemap", ini);
    } else {
      test_support::WriteFile(ini, c.head);
      std::filesystem::resize_file(ini, c.size - c.tail.size());
      std::ofstream(ini, std::ios::binary | std::ios::app) << c.tail;
    }
    auto load_limited = [&] {
      const rlimit one_gib{std::uint64_t{1} << 30, std::uint64_t{1} << 30};
      if (!KESTRANE_SANITIZED && ::setrlimit(RLIMIT_AS, &one_gib) != 0) std::_Exit(2);
      try {
        LoadFilterTableFrom(ini);
      } catch (const FilterFileError& e) {
        std::fputs(e.what(), stderr);
        std::_Exit(e.what() == c.error ? 0 : 1);
      }
      std::_Exit(1);
    };
    EXPECT_EXIT(load_limited(), ::testing::ExitedWithCode(0), "") << c.error;
  }
}

MessageRecord Message(std::string from, std::string subject, std::string to = "", std::string newsgroups = "") {
  MessageRecord m;
  m.From = std::move(from);
  m.Subject = std::move(subject);
  m.To = std::move(to);
  m.Newsgroups = std::move(newsgroups);
  return m;
}

TEST(ClassifyMessage, FollowsTheTieBreaksAndEmptyFieldRules) {
  FilterTable t = Parse(
      "\"S1\",\"Subject: \",\"offer\"\r\n"
      "\"F1\",\"From: \",\"spammer\"\r\n"
      "\"F2\",\"From: \",\"spam\"\r\n"
      "\"T1\",\"To: \",\"sales@\"\r\n"
      "\"\",\"Newsgroups: \",\"alt.\"\r\n"
      "\"Sempty\",\"Subject: \",\"\"\r\n");
  // `m` with one more field.
  auto with = [](MessageRecord m, std::string MessageRecord::*field, std::string value) {
    m.*field = std::move(value);
    return m;
  };

  struct Case { MessageRecord record; const char* expected; } cases[] = {
      {with(Message("spammer", "offer"), &MessageRecord::XSalvaged, "YeS"), "XXX"},
      {with(Message("", ""), &MessageRecord::XSalvaged, "yes "), ""},
      {Message("spammer", "offer"), "FrF1"},           // From list beats an earlier Subject rule
      {Message("a spam b", ""), "FrF2"},
      {with(Message("", ""), &MessageRecord::ReplyTo, "big SPAMMER inc"), "FrF1"},
      {Message("", "Special OFFER inside"), "SuS1"},
      {Message("", "anything"), "SuSempty"},            // empty pattern matches any non-empty field
      {with(Message("", ""), &MessageRecord::Bcc, "x SALES@y"), "ToT1"},
      {Message("", "", "", "alt.test"), "Ng"},          // empty tag: bare list code
      {Message("", "", "", ""), ""},                    // empty fields never match
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyMessage(c.record, t), c.expected) << c.expected;
}

TEST(ClassifyMessage, HasNoSixteenBitCeilingOnRules) {
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "\"t" + std::to_string(i) + "\",\"To: \",\"rcpt" + std::to_string(i) + "#\"\r\n";
  FilterTable t = Parse(text);
  EXPECT_EQ(t.ToList.RuleCount(), 40000);
  EXPECT_EQ(ClassifyMessage(Message("", "", "x rcpt39999# y"), t), "Tot39999");
  EXPECT_EQ(ClassifyMessage(Message("", "", "nobody"), t), "");
}

// The lowest-numbered pattern that occurs, letter case ignored for ASCII
// only, with full rows for every state, for the root alone (the others find
// their edges by a scan or a binary search, and follow failure links) and for
// a part of the states.
TEST(PatternMatcher, FindsTheFirstPatternInEveryRowLayout) {
  const std::vector<std::string> patterns = {"abd", "ab", "ac", "ad", "ae", "af",       "ag",        "ah",  "ai",
                                             "aj",  "az", "bx", "by", "bz", "zzzzzzzz", "zzzzzzzzy", "zab", "\xE9t"};
  const std::size_t none = PatternMatcher::npos;
  const std::pair<const char*, std::size_t> cases[] = {
      {"xxABD", 0}, {"xab", 1},   {"zzAZ", 10},   {"qaf", 5},   {"bz", 13}, {"cby", 12},
      {"b", none},  {"aabz", 1},  {"\xE9T", 17},  {"\xC9t", none}, {"", none}, {"bbx", 11},
      {"zzzzzzzzy", 14},  // keys alike in their first eight classes sort by the rest
      {"zab", 1},         // an earlier pattern that ends a later one
      {"ax", none},  {"\xE9zzzzzzz", none},  // no edge between a state's own, nor a neighbour's
  };
  for (std::size_t dense_cells : {std::size_t{0}, std::size_t{40}, PatternMatcher::kDenseCells}) {
    PatternMatcher matcher(patterns, dense_cells);
    for (const auto& [text, first] : cases) EXPECT_EQ(matcher.FirstMatch(text), first) << text << " " << dense_cells;
  }
}

}  // namespace
