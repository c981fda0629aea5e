// `qvue --list`: what it prints for a folder, also for a message it could
// not read or that vanished while the folder was read, and that the listing
// never changes a file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "tests/TestSupport.h"
#include "tests/faults/FaultScript.h"
#include "listing/GridLoader.h"
#include "listing/ListCommand.h"

namespace {

using namespace faults;

const std::string kOneDel = "Subject: you won the lottery\r\nFrom: x@y\r\nDate: 5 Mar 2004 14:07:09 +0100\r\n\r\nbody\r\n";
const std::string kOnePlain = "Subject: hi\r\n\r\n";

FileMap StartTree() {
  return Apply({{"/prog/Filter.ini", "\"junk-\",\"Subject: \",\"lottery\"\r\n"}, {"/in/m1", kOneDel}, {"/in/m2", kOnePlain}},
               Pair("/q", "a", kDel, "12345") + Pair("/q", "b", kPlain, "1"));
}

std::string Size(const std::string& a, const std::string& b = "") { return std::to_string(a.size() + b.size()); }

// The counters' line as the listing ends it, for at least one listed file.
std::string Counters(int files, std::size_t bytes) {
  return "Files Processed (Number/Size): " + FormatDigits(files, "# ##0") + " / " +
         FormatDigits(static_cast<std::int64_t>(bytes), "# ### ##0") + ", empty: 0\n";
}

// What qvue --list gave: its status, its rows but the header row as "file name | size | classification |
// subject | date", and stderr.
struct Listed { int status = -1; std::vector<std::string> rows; std::string err; };

Listed List(const std::vector<std::string>& args) {
  char *out_data = nullptr, *err_data = nullptr;
  std::size_t out_size = 0, err_size = 0;
  std::FILE *out = open_memstream(&out_data, &out_size), *err = open_memstream(&err_data, &err_size);
  Listed listed;
  listed.status = RunListCommand(args, out, err);
  std::fclose(out), std::fclose(err);
  std::istringstream lines(std::string(out_data, out_size));
  listed.err.assign(err_data, err_size);
  std::free(out_data), std::free(err_data);
  std::string line;
  std::getline(lines, line);  // the header row
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::istringstream split(line);
    for (std::string cell; std::getline(split, cell, '\t');) cells.push_back(cell);
    cells.resize(kGridColumns);
    listed.rows.push_back(cells[1] + "|" + cells[2] + "|" + cells[3] + "|" + cells[4] + "|" + cells[8]);
  }
  return listed;
}

struct ListingCase {
  std::string name = {};
  std::vector<std::string> args = {};
  Delta extra = {};  // the start tree's changes before the listing
  std::vector<Fault> faults = {};
  std::size_t read_chunk = 4096;
  std::vector<std::string> rows = {};
  std::string err = {};       // everything the listing writes to stderr
  Delta files_changed = {};   // by the faults themselves: the listing changes none
  int status = 0;
};

// Test names show the case's name, not its bytes.
void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.name; }

std::vector<ListingCase> Cases() {
  // The date cell: line 2 of a header file or the Date: line, the zero date
  // when none was read, empty when the file was not opened.
  const std::string dated = "|~2026/12/06 14:03:22", no_date = "|~1899/12/30 00:00:00";
  const std::string a_row = "a.q0|" + Size(kDel, "12345") + "|Sujunk-|you won the lottery" + dated;
  const std::string b_row = "b.q0|" + Size(kPlain, "1") + "||hello" + dated;
  const std::string m1_row = "m1|" + Size(kOneDel) + "|Sujunk-|you won the lottery|~2004/03/05 13:07:09";
  const std::string m2_row = "m2|" + Size(kOnePlain) + "||hi" + no_date;
  const std::size_t pair_bytes = kDel.size() + 5 + kPlain.size() + 1;
  const std::size_t single_bytes = kOneDel.size() + kOnePlain.size();
  const std::string none = "Files Processed (Number/Size): 0 / 0, empty: 0\n";
  auto unread = [](const std::string& path) { return "qvue: " + path + " could not be read whole; listed with what was read\n"; };
  auto unopened = [](const std::string& path) { return "qvue: " + path + " could not be opened; listed without its headers\n"; };
  const std::string usage = "usage: qvue --list [--single] [--decode] FOLDER   (qvue --help tells more)\n";
  const std::string escaped = Header("Subject: tab\there \\ back\nlf\r\n");
  // The subject decodes to "lottery"; the rule looks at the raw text.
  const std::string encoded = Header("Subject: =?UTF-8?B?bG90dGVyeQ==?=\r\n");
  const Delta encoded_pair = {{"/d/=?UTF-8?Q?x?=.q0", encoded}, {"/d/=?UTF-8?Q?x?=.q1", ""}};
  return {
      // Tabs, backslashes and line ends in a cell are escaped; an empty
      // header counts in its own box; the file name is never decoded.
      {.name = "EscapesCellsAndCountsEmptyHeaders", .args = {"/e"},
       .extra = {{"/e/my msg.q0", escaped}, {"/e/my msg.q1", "xyz"}, {"/e/zero.q0", ""}},
       .rows = {"my msg.q0|" + Size(escaped, "xyz") + "||tab\\there \\\\ back\\nlf" + dated},
       .err = "Files Processed (Number/Size):  1 /   " + Size(escaped, "xyz") + ", empty:  1\n"},
      {.name = "RawHeaderTexts", .args = {"/d"}, .extra = encoded_pair,
       .rows = {"=?UTF-8?Q?x?=.q0|" + Size(encoded) + "||=?UTF-8?B?bG90dGVyeQ==?=" + dated},
       .err = Counters(1, encoded.size())},
      {.name = "DecodedHeaderTexts", .args = {"--decode", "/d"}, .extra = encoded_pair,
       .rows = {"=?UTF-8?Q?x?=.q0|" + Size(encoded) + "||lottery" + dated}, .err = Counters(1, encoded.size())},
      {.name = "PairsInAOneFileFolderAreNone", .args = {"/in"}, .err = none},
      {.name = "MissingFolder", .args = {"/nowhere"}, .err = none},
      {.name = "NoFolder", .err = usage, .status = 2},
      {.name = "TwoFolders", .args = {"/q", "/in"}, .err = usage, .status = 2},
      {.name = "NoRuleFile", .args = {"/q"}, .extra = {{"/prog/Filter.ini", std::nullopt}},
       .err = "qvue: /prog/Filter.ini: not found\n", .status = 1},
      // A header that cannot be opened or read whole: listed with its size
      // and no fields, so no rule applies, and named on stderr as what it is;
      // one not opened has no date to show.
      {.name = "PairHeaderOpenRefused", .args = {"/q"}, .faults = {Refuse(Op::kOpenRead, "/q/a.q0")},
       .rows = {"a.q0|" + Size(kDel, "12345") + "|||", b_row}, .err = unopened("/q/a.q0") + Counters(2, pair_bytes)},
      {.name = "PairHeaderReadFailsHalfway", .args = {"/q"}, .faults = {Refuse(Op::kRead, "/q/a.q0", 2)},
       .read_chunk = 16, .rows = {"a.q0|" + Size(kDel, "12345") + "||" + no_date, b_row},
       .err = unread("/q/a.q0") + Counters(2, pair_bytes)},
      // Gone between the listing and the read: still a row, of size 0.
      {.name = "PairHeaderVanishesBeforeItsRead", .args = {"/q"},
       .faults = {VanishesAt(Op::kOpenRead, "/q/a.q0")}, .rows = {"a.q0|0|||", b_row},
       .err = Counters(2, kPlain.size() + 1), .files_changed = {{"/q/a.q0", std::nullopt}}},
      {.name = "CompanionVanishesBeforeItIsMeasured", .args = {"/q"},
       .faults = {VanishesAt(Op::kLength, "/q/a.q1")}, .rows = {"a.q0|0||" + no_date, b_row},
       .err = Counters(2, kPlain.size() + 1), .files_changed = {{"/q/a.q1", std::nullopt}}},
      {.name = "QueueRemovedAfterTheFirstMessage", .args = {"/q"},
       .faults = {Before(Op::kOpenRead, "/q/b.q0", 1, Vanish({"/q"}))}, .rows = {a_row, "b.q0|0|||"},
       .err = Counters(2, kDel.size() + 5), .files_changed = Gone("/q", {"a", "b"})},
      // One-file messages: a refused open and a read cut short (the subject
      // read before it counts) are reported, a vanished file is not.
      {.name = "OneFileOpenRefused", .args = {"--single", "/in"}, .faults = {Refuse(Op::kOpenRead, "/in/m1")},
       .rows = {"m1|" + Size(kOneDel) + "|||", m2_row}, .err = unopened("/in/m1") + Counters(2, single_bytes)},
      {.name = "OneFileReadFailsHalfway", .args = {"--single", "/in"}, .faults = {Refuse(Op::kRead, "/in/m1", 2)},
       .read_chunk = 31, .rows = {"m1|" + Size(kOneDel) + "|Sujunk-|you won the lottery" + no_date, m2_row},
       .err = unread("/in/m1") + Counters(2, single_bytes)},
      {.name = "OneFileVanishesBeforeItsRead", .args = {"--single", "/in"},
       .faults = {VanishesAt(Op::kOpenRead, "/in/m1")}, .rows = {"m1|0|||", m2_row},
       .err = Counters(2, kOnePlain.size()), .files_changed = {{"/in/m1", std::nullopt}}},
      {.name = "OneFileFolderRemovedAfterTheFirstMessage", .args = {"--single", "/in"},
       .faults = {Before(Op::kOpenRead, "/in/m2", 1, Vanish({"/in"}))}, .rows = {m1_row, "m2|0|||"},
       .err = Counters(2, kOneDel.size()), .files_changed = {{"/in/m1", std::nullopt}, {"/in/m2", std::nullopt}}},
      // Told as a failure, not as an empty folder listed.
      {.name = "FolderCannotBeListed", .args = {"/q"}, .faults = {Refuse(Op::kList, "/q")},
       .err = "qvue: /q: cannot be listed\n" + none, .status = 1},
  };
}

class ListingFaultTable : public ::testing::TestWithParam<ListingCase> {
 protected:
  FakeFileSystem fs;
};

TEST_P(ListingFaultTable, PrintsTheseRowsAndChangesNoFile) {
  const ListingCase& c = GetParam();
  const FileMap start = Apply(StartTree(), c.extra);
  for (const auto& [path, bytes] : start) fs.AddFile(path, bytes);
  fs.read_chunk = c.read_chunk;
  auto unfired = Install(fs, c.faults);
  const Listed listed = List(c.args);
  fs.before = nullptr;
  EXPECT_EQ(unfired(), "");
  EXPECT_EQ(listed.status, c.status);
  EXPECT_EQ(listed.rows, c.rows);
  EXPECT_EQ(listed.err, c.err);
  EXPECT_EQ(Describe(fs.Files()), Describe(Apply(start, c.files_changed)));
}

INSTANTIATE_TEST_SUITE_P(Faults, ListingFaultTable, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ListingCase>& row) { return row.param.name; });

// The real host: a user who may list a folder but not enter it (mode 0744,
// not its owner) can open none of its files, nor even look at them. The test
// runs as root; the listing runs in a child that becomes nobody first.
TEST(ListingOnTheRealHost, NamesEveryFileOfAFolderThatCannotBeEntered) {
  if (::geteuid() != 0) GTEST_SKIP() << "takes another user's identity: needs root";
  test_support::TempFolder temp;
  const std::string q = temp / "q";
  std::filesystem::create_directory(q);
  test_support::WriteFile(temp / "Filter.ini", "");
  test_support::WriteFile(q + "/a.q0", kPlain);
  test_support::WriteFile(q + "/a.q1", "1");
  ASSERT_EQ(::chmod(temp.path().c_str(), 0755) | ::chmod((temp / "Filter.ini").c_str(), 0644) | ::chmod(q.c_str(), 0744), 0);
  test_support::TestHost host(temp.path());
  const std::string expected =
      "a.q0|0|||\nqvue: " + q + "/a.q0 could not be opened; listed without its headers\n" + Counters(1, 0);
  EXPECT_EQ(test_support::AsNobody([&] {
              Listed listed = List({q});
              std::string text = (listed.rows.size() == 1 ? listed.rows[0] + "\n" : "") + listed.err;
              std::fputs(text.c_str(), stderr);
              return listed.status == 0 && text == expected;
            }),
            0);
}

}  // namespace
