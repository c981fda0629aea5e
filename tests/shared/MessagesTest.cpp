#include <gtest/gtest.h>

#include <clocale>

#include "platform/FileSystem.h"
#include "shared/LineReader.h"
#include "shared/Module_Messages.h"
#include "tests/platform/FakeFileSystem.h"

namespace {

using testing_host::FakeFileSystem;
using testing_host::Op;
using Strings = std::vector<std::string>;

// The lines of `bytes`; a line cut at `max_line` bytes is followed by "~cut".
// The read numbered `failing_read` (from 1) fails.
std::vector<std::string> LinesOf(const std::string& bytes, std::size_t chunk, std::size_t max_line = 1 << 20,
                                 int failing_read = 0) {
  FakeFileSystem fs;
  fs.read_chunk = chunk;
  int reads = 0;
  fs.before = [&](Op op, const std::string&) { return op != Op::kRead || ++reads != failing_read; };
  fs.AddFile("/f", bytes);
  LineReader reader(fs.OpenRead("/f"), max_line);
  std::vector<std::string> lines;
  std::string line;
  while (reader.Next(&line)) lines.push_back(line + (reader.cut() ? "~cut" : ""));
  return lines;
}

TEST(LineReader, EndsLinesAtCrLfOrCrButNotAtLf) {
  for (std::size_t chunk : {1u, 2u, 3u, 4096u}) {
    EXPECT_EQ(LinesOf("a\r\nb\r\n", chunk), (Strings{"a", "b"})) << chunk;
    EXPECT_EQ(LinesOf("a\rb\r\r\nc", chunk), (Strings{"a", "b", "", "c"})) << chunk;
    EXPECT_EQ(LinesOf("a\nb\r\n\r\n", chunk), (Strings{"a\nb", ""})) << chunk;
    EXPECT_EQ(LinesOf("", chunk), Strings{}) << chunk;
    // Past the cap the rest of a line is dropped; the lines after it are whole.
    EXPECT_EQ(LinesOf("abcdef\r\ngh\r\nabcd\r\n", chunk, 4), (Strings{"abcd~cut", "gh", "abcd"})) << chunk;
    EXPECT_EQ(LinesOf("abcde\r\r\nx\nyz12\r\nlast-one", chunk, 4), (Strings{"abcd~cut", "", "x\nyz~cut", "last~cut"}))
        << chunk;
  }
  // A failed read ends the lines; no line is made up after it.
  EXPECT_EQ(LinesOf("ab\r\ncd\r\n", 4, 100, 2), Strings{"ab"});
}

// The text fields of a record: ReturnPath, From, ReplyTo, To, Cc, Bcc,
// Subject, Newsgroups, XSalvaged.
Strings Fields(const MessageRecord& r) {
  return {r.ReturnPath, r.From, r.ReplyTo, r.To, r.Cc, r.Bcc, r.Subject, r.Newsgroups, r.XSalvaged};
}

class ReadMessageHeadersTest : public ::testing::Test {
 protected:
  FakeFileSystem fs;

  MessageRecord Read(const std::string& path) {
    MessageRecord record;
    record.From = "stale";
    record.Size = 99;
    record.Path = path;
    ReadMessageHeaders(record);
    return record;
  }
  void Pair(const std::string& stem, const std::string& q0, const std::string& q1 = "body") {
    fs.AddFile(stem + ".q0", q0);
    fs.AddFile(stem + ".q1", q1);
  }
};

TEST_F(ReadMessageHeadersTest, ReadsEveryHeaderAndTheLineTwoDate) {
  std::string q0 =
      "From: not-a-header-on-line-1\r\n"
      "12/06/2026 14:03:22\r\n"
      "Return-Path: <rp@x>\r\nFROM: alice\r\nreply-to: r\r\nTo: first\r\nCc: c\r\nBcc: b\r\n"
      "Subject: hello\r\n  folded part\r\nNewsgroups: alt.test\r\nTo:nobody\r\n\r\n"
      "To: second\r\nTo: \r\nX-Salvaged: yes\r\n\r\n";
  Pair("/q/msg", q0, "12345");
  MessageRecord r = Read("/q/msg.q0");
  // To: a later line wins, an empty one changes nothing.
  EXPECT_EQ(Fields(r), (Strings{"<rp@x>", "alice", "r", "second", "c", "b", "hello", "alt.test", "yes"}));
  EXPECT_EQ(SortableDateText(r.Date), "~2026/12/06 14:03:22");
}

// Line 2 is written by the queue's writer in its locale's numeric date
// order; the reader follows LC_TIME (scripts/deps generates these locales).
TEST_F(ReadMessageHeadersTest, LineTwoDateFollowsTheLocaleDateOrder) {
  struct Case { const char* locale; const char* line2; const char* expected; } cases[] = {
      {"C", "12/06/26 14:03:22", "~2026/12/06 14:03:22"},
      {"de_DE.UTF-8", "06.12.2026 14:03:22", "~2026/12/06 14:03:22"},
      {"de_DE.UTF-8", "06.12.26", "~2026/12/06 00:00:00"},
      {"de_DE.UTF-8", "12/06/2026 14:03:22", "~2026/06/12 14:03:22"},
      {"sv_SE.UTF-8", "2026-12-06 14:03:22", "~2026/12/06 14:03:22"},
      {"sv_SE.UTF-8", "26-12-06 14:03", "~2026/12/06 14:03:00"},
      {"sv_SE.UTF-8", "06.12.2026", "~1899/12/30 00:00:00"},  // day first is no date here
  };
  for (const Case& c : cases) {
    ASSERT_NE(std::setlocale(LC_TIME, c.locale), nullptr) << c.locale << " is not generated (scripts/deps)";
    Pair("/q/m", std::string("Q 1\r\n") + c.line2 + "\r\nSubject: s\r\n\r\n");
    EXPECT_EQ(SortableDateText(Read("/q/m.q0").Date), c.expected) << c.locale << " " << c.line2;
  }
  std::setlocale(LC_TIME, "C");
}

// Incomplete pairs give only the size; so does a header file that exists but
// cannot be opened, with what of it can be measured.
TEST_F(ReadMessageHeadersTest, IncompletePairsGiveOnlyWhatWasReached) {
  Pair("/q/CAPS", "line1\r\nnot a date\r\nSubject: s\r\n");
  fs.AddFile("/q/lonely.q0", "l1\r\nl2\r\nSubject: s\r\n");
  MessageRecord caps = Read("/q/CAPS.Q0");  // companion found as "/q/CAPS.q1" in other case
  EXPECT_EQ(std::tuple(caps.Subject, caps.Date == DateTime()), std::tuple("s", true));
  MessageRecord lonely = Read("/q/lonely.q0");
  EXPECT_EQ(std::tuple(lonely.Size, lonely.Subject), std::tuple(0, ""));

  Pair("/q/m", "l1\r\nl2\r\nFrom: a\r\n", "12345");
  for (Op refused : {Op::kOpenRead, Op::kLength}) {
    fs.before = [refused](Op op, const std::string& path) {
      return path != "/q/m.q0" || (op != Op::kOpenRead && op != refused);
    };
    MessageRecord r = Read("/q/m.q0");
    EXPECT_EQ(std::tuple(r.Size, r.From), std::tuple(refused == Op::kLength ? 5 : 22, ""));
  }
}

TEST_F(ReadMessageHeadersTest, OneFileMessagesTakeSixHeadersFromTheFirstBlock) {
  fs.AddFile("/in/m",
             "Date: Thu, 5 Mar 2004 14:07:09 +0100\r\nReply-To: r\r\nCc: c\r\nBcc: b\r\nX-Salvaged: yes\r\n"
             "from: alice\r\n   \r\nSubject: after blanks\r\nDate: Fri, 5 Mar 2004 23:30:00 -0100\r\nDate: \r\n"
             "Return-Path: <rp>\r\nNewsgroups: alt.x\r\nTo: t\r\n\r\nTo: body line\r\nSubject: body\r\n");
  MessageRecord m;
  m.Path = "/in/m";
  m.Cc = "stale";
  EXPECT_TRUE(ReadSingleFileHeaders(m));
  // A line of blanks does not end the block, the body is not read, the stale
  // Cc is reset: a one-file message gives no Reply-To, Cc, Bcc or tag.
  EXPECT_EQ(Fields(m), (Strings{"<rp>", "alice", "", "t", "", "", "after blanks", "alt.x", ""}));
  EXPECT_EQ(SortableDateText(m.Date), "~2004/03/06 00:30:00");  // the later date, in UTC
  // There but shut: false, with the length as far as it can be measured.
  for (Op refused : {Op::kOpenRead, Op::kLength}) {
    fs.before = [refused](Op op, const std::string&) { return op != Op::kOpenRead && op != refused; };
    EXPECT_FALSE(ReadSingleFileHeaders(m));
    EXPECT_EQ(m.Size, refused == Op::kLength ? 0 : std::ssize(fs.Contents("/in/m")));
  }
}

}  // namespace
