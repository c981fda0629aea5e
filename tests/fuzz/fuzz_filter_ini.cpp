// Filter.ini parsing and classification. The input is the rule file text;
// after its first NUL byte come the message fields, NUL-separated, given in
// turn to From, Reply-To, Subject, To, Cc, Bcc, Newsgroups and X-Salvaged
// (without a NUL, every field holds the whole rule text). The classification
// of the rule matcher's automaton must equal that of a plain search, whatever
// part of its states has full rows.
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "shared/Module_Filter.h"
#include "shared/PatternMatcher.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// Position of the first rule whose pattern occurs in one of the non-empty
// texts, letter case ignored.
std::optional<std::size_t> FirstRule(const FilterRuleList& list, std::initializer_list<const std::string*> texts) {
  for (std::size_t i = 0; i < list.Patterns.size(); ++i) {
    for (const std::string* text : texts) {
      if (!text->empty() && fuzz::ContainsIgnoreCase(*text, list.Patterns[i])) return i;
    }
  }
  return std::nullopt;
}

std::string PlainClassify(const MessageRecord& r, const FilterTable& t) {
  if (platform::EqualsIgnoreCase(r.XSalvaged, "yes")) return "XXX";
  if (auto i = FirstRule(t.FromList, {&r.From, &r.ReplyTo})) return "Fr" + t.FromList.Tags[*i];
  if (auto i = FirstRule(t.SubjectList, {&r.Subject})) return "Su" + t.SubjectList.Tags[*i];
  if (auto i = FirstRule(t.ToList, {&r.To, &r.Cc, &r.Bcc})) return "To" + t.ToList.Tags[*i];
  if (auto i = FirstRule(t.NewsgroupsList, {&r.Newsgroups})) return "Ng" + t.NewsgroupsList.Tags[*i];
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzz::kMaxInput) return 0;
  std::string_view input = fuzz::AsText(data, size);
  std::size_t nul = input.find('\0');
  std::string_view rules = input.substr(0, nul);

  FilterTable table;
  try {
    ParseFilterText(rules, "Filter.ini", &table);
  } catch (const FilterFileError&) {
    return 0;  // a malformed file is a normal outcome
  }
  const FilterRuleList* lists[] = {&table.FromList, &table.SubjectList, &table.ToList, &table.NewsgroupsList};
  for (const FilterRuleList* list : lists) {
    FUZZ_CHECK(list->Tags.size() == list->Patterns.size());
    FUZZ_CHECK(list->RuleCount() == static_cast<std::int64_t>(list->Tags.size()));
  }

  MessageRecord record;
  std::string* fields[] = {&record.From, &record.ReplyTo,    &record.Subject,  &record.To,
                           &record.Cc,   &record.Bcc,        &record.Newsgroups, &record.XSalvaged};
  if (nul == std::string_view::npos) {
    for (std::string* field : fields) field->assign(rules);
  } else {
    std::string_view tail = input.substr(nul + 1);
    for (std::string* field : fields) {
      std::size_t cut = tail.find('\0');
      field->assign(tail.substr(0, cut));
      tail = cut == std::string_view::npos ? std::string_view() : tail.substr(cut + 1);
    }
  }
  FUZZ_CHECK(ClassifyMessage(record, table) == PlainClassify(record, table));
  // With full rows for the root alone, every other state finds its edges one
  // by one: the same first rule for every field.
  for (const FilterRuleList* list : lists) {
    PatternMatcher sparse(list->Patterns, 0);
    for (const std::string* field : fields) FUZZ_CHECK(sparse.FirstMatch(*field) == list->Matcher.FirstMatch(*field));
  }
  return 0;
}
