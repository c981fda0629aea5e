#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "batch/main_Sievbat.h"
#include "platform/RealFileSystem.h"
#include "shared/Module_Messages.h"
#include "shared/Module_MySafeRename.h"
#include "shared/Module_SalvageTag.h"
#include "tests/TestSupport.h"

namespace {

using test_support::Exists;
using test_support::TestHost;
using test_support::ListNames;
using test_support::ReadFile;
using test_support::WriteFile;

// Every entry under `root` with its kind and bytes, in name order: equal
// before and after means nothing was created, removed, renamed or written.
std::string TreeBytes(const std::string& root) {
  std::vector<std::string> entries;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string rel = e.path().string().substr(root.size());
    entries.push_back(e.is_directory() ? rel + "/" : rel + "=" + ReadFile(e.path().string()));
  }
  std::sort(entries.begin(), entries.end());
  std::string all;
  for (const std::string& entry : entries) all += entry + "\n";
  return all;
}

std::string SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  std::sort(lines.begin(), lines.end());
  std::string all;
  for (const std::string& line : lines) all += line;
  return all;
}

std::string Header(const std::string& from, const std::string& subject) {
  return "Q 1 smtp relay 0\r\n12/06/26 14:03:22\r\nFrom: " + from + "\r\nTo: op@example.net\r\nSubject: " + subject +
         "\r\n\r\n";
}

class SievbatTest : public ::testing::Test {
 protected:
  test_support::TempFolder temp;
  std::string queue = temp / "Mail Out";  // a blank in the path, passed bare
  TestHost host_fs{temp.path()};
  platform::ScopedHost host{host_fs};

  void SetUp() override {
    std::filesystem::create_directories(queue + "/Wait");
    WriteFile(temp / "Filter.ini",
              "\"junk-\",\"Subject: \",\"lottery\"\r\n"
              "\"bulkW\",\"From: \",\"newsletter@\"\r\n"
              "\"laterw\",\"From: \",\"later@\"\r\n"
              "\"tag\",\"Subject: \",\"report\"\r\n");
    ResetCollisionNameGenerator();
  }
  void Pair(const std::string& stem, const std::string& q0, const std::string& q1 = "body\r\n") {
    WriteFile(queue + "/" + stem + ".q0", q0);
    WriteFile(queue + "/" + stem + ".q1", q1);
  }
  int Run(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
    std::ostringstream o, e;
    int status = Main(args, o, e);
    if (out) *out = o.str();
    if (err) *err = e.str();
    return status;
  }
  int RunOnQueue() {
    std::string out, err;
    int status = Run({temp / "Mail", "Out"}, &out, &err);
    EXPECT_EQ(out + err, "");
    return status;
  }
};

TEST_F(SievbatTest, DeletesHoldsAndLeavesMessagesByTheirTags) {
  Pair("del", Header("a@x", "you won the LOTTERY"));
  Pair("DEL2", Header("a@x", "lottery"));
  Pair("hold", Header("newsletter@shop", "news"));
  Pair("small", Header("later@x", "news"));  // tag ends in a small "w": label only
  Pair("label", Header("a@x", "report"));
  Pair("plain", Header("a@x", "hello"));
  WriteFile(queue + "/Wait/hold.q0", "already waiting");
  EXPECT_EQ(RunOnQueue(), 0);

  ResetCollisionNameGenerator();
  std::string c1 = NewCollisionName();
  for (char& c : c1) c = static_cast<char>(std::tolower(c));
  EXPECT_EQ(ListNames(queue), "Wait/ label.q0 label.q1 plain.q0 plain.q1 small.q0 small.q1");
  EXPECT_EQ(ListNames(queue + "/Wait"), "hold.q0 " + c1 + ".q0 " + c1 + ".q1");
  EXPECT_EQ(ReadFile(queue + "/Wait/hold.q0"), "already waiting");
  EXPECT_EQ(ReadFile(queue + "/Wait/" + c1 + ".q0"), Header("newsletter@shop", "news"));
}

TEST_F(SievbatTest, StripsTheSalvageTagInsteadOfActingOnTheRules) {
  std::string crlf = Header("a@x", "lottery");  // a delete rule would match
  Pair("crlf", crlf);
  Pair("twice", crlf);
  ASSERT_TRUE(AddSalvageTag(queue + "/crlf.q0"));
  ASSERT_TRUE(AddSalvageTag(queue + "/twice.q0"));
  ASSERT_TRUE(AddSalvageTag(queue + "/twice.q0"));
  EXPECT_EQ(RunOnQueue(), 0);

  EXPECT_EQ(ReadFile(queue + "/crlf.q0"), crlf);                   // byte for byte
  EXPECT_EQ(ReadFile(queue + "/twice.q0"), crlf);                  // cut at the first tag
  EXPECT_TRUE(Exists(queue + "/crlf.q1"));

  EXPECT_EQ(RunOnQueue(), 0);  // the next pass applies the rules again
  EXPECT_EQ(ListNames(queue), "Wait/");
}

// A dry run tells each header file's action and leaves the tree as it was,
// byte for byte; a verbose pass tells what it did, a failed hold included.
// Lines are compared sorted: the folder order is the file system's.
TEST_F(SievbatTest, DryRunAndVerboseTellEveryAction) {
  Pair("del", Header("a@x", "lottery"));
  Pair("hold", Header("newsletter@shop", "news"));
  Pair("salv", Header("a@x", "lottery"));
  ASSERT_TRUE(AddSalvageTag(queue + "/salv.q0"));
  Pair("label", Header("a@x", "report"));
  Pair("tab\tname", Header("a@x", "hello"));
  ResetCollisionNameGenerator();
  std::string c1 = NewCollisionName();
  for (char& c : c1) c = static_cast<char>(std::tolower(c));
  ResetCollisionNameGenerator();
  WriteFile(queue + "/Wait/hold.q1", "taken");  // the hold gets a fresh name

  struct Step {
    const char* option;
    bool remove_wait;  // before the step
    std::string lines;
    std::string left;  // in the queue folder afterwards ("" = as before)
  };
  const std::string label = "label.q0\tSutag\tkeep\n", tab = "tab\\tname.q0\t\tkeep\n";
  const Step steps[] = {
      {"--dry-run", false, "del.q0\tSujunk-\tdelete\nhold.q0\tFrbulkW\thold\n" + label + "salv.q0\tXXX\tstrip\n" + tab, ""},
      {"--verbose", false, "del.q0\tSujunk-\tdelete\nhold.q0\tFrbulkW\thold\t" + c1 + ".q0\nsalv.q0\tXXX\tstrip\n",
       "Wait/ label.q0 label.q1 salv.q0 salv.q1 tab\tname.q0 tab\tname.q1"},
      {"--dry-run", true, "hold.q0\tFrbulkW\thold\n" + label + "salv.q0\tSujunk-\tdelete\n" + tab, ""},
      {"--verbose", false, "hold.q0\tFrbulkW\tfailed\thold\nsalv.q0\tSujunk-\tdelete\n",
       "hold.q0 hold.q1 label.q0 label.q1 tab\tname.q0 tab\tname.q1"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.option + std::string(step.remove_wait ? " without Wait" : ""));
    if (step.remove_wait) {
      std::filesystem::remove_all(queue + "/Wait");
      Pair("hold", Header("newsletter@shop", "news"));
    }
    std::string before = TreeBytes(temp.path()), out, err;
    EXPECT_EQ(Run({step.option, temp / "Mail", "Out"}, &out, &err), 0);
    EXPECT_EQ(err, "");
    EXPECT_EQ(SortedLines(out), step.lines);
    if (step.left.empty()) {
      EXPECT_EQ(TreeBytes(temp.path()), before);
    } else {
      EXPECT_EQ(ListNames(queue), step.left);
    }
  }
}

// A header line longer than the cap, as a sparse run of zero bytes (no disk
// taken): the pass reads it through, decides on its first MiB and on the
// lines after it, and goes on to the next message.
TEST_F(SievbatTest, DecidesOnTheFirstMebibyteOfAHugeLineAndGoesOn) {
  auto sparse_pair = [&](const std::string& stem, const std::string& before, const std::string& after) {
    std::string q0 = queue + "/" + stem + ".q0";
    WriteFile(q0, "Q 1 smtp\r\n12/06/26 14:03:22\r\nFrom: a@x\r\n" + before);
    std::filesystem::resize_file(q0, kMaxHeaderLine + (3 << 20));
    std::ofstream(q0, std::ios::binary | std::ios::app) << after << "\r\n\r\n";
    WriteFile(queue + "/" + stem + ".q1", "body");
  };
  sparse_pair("early", "Subject: lottery ", "");          // the rule's word is kept
  sparse_pair("late", "Subject: ", "lottery");            // in the dropped rest
  sparse_pair("after", "To: ", "\r\nSubject: lottery");  // on the next line
  sparse_pair("tag", "X-Salvaged: yes", "\r\nSubject: lottery");  // not the tag either
  Pair("plain", Header("a@x", "lottery"));
  EXPECT_EQ(RunOnQueue(), 0);
  EXPECT_EQ(ListNames(queue), "Wait/ late.q0 late.q1");
}

TEST_F(SievbatTest, SkipsWhatIsNotAMessagePair) {
  Pair("empty", "");                              // zero bytes: skipped before reading
  WriteFile(queue + "/nopair.q0", Header("a@x", "lottery"));
  WriteFile(queue + "/ext.q0x", Header("a@x", "lottery"));
  WriteFile(queue + "/ext.q1", "body");
  std::filesystem::create_directory(queue + "/dir.q0");
  Pair("Wait/waiting", Header("a@x", "lottery"));  // subfolders are not scanned
  EXPECT_EQ(RunOnQueue(), 0);
  EXPECT_EQ(ListNames(queue), "Wait/ dir.q0/ empty.q0 empty.q1 ext.q0x ext.q1 nopair.q0");
  EXPECT_EQ(ListNames(queue + "/Wait"), "waiting.q0 waiting.q1");
}

// A symbolic link is never a message, whatever it points to, and a FIFO is
// never waited on: the pass leaves them, and what they lead to, untouched.
TEST_F(SievbatTest, LinksAndFifosAreNeverMessages) {
  std::string tagged = Header("a@x", "lottery");
  tagged.replace(tagged.size() - 2, 2, SalvageTagText);
  WriteFile(temp / "outside-tagged", tagged);
  WriteFile(temp / "outside-hold", Header("newsletter@shop", "news"));
  WriteFile(temp / "outside-body", "body");
  auto link = [&](const std::string& target, const std::string& name) {
    std::filesystem::create_symlink(temp / target, queue + "/" + name);
  };
  link("outside-tagged", "strip.q0");  // the strip would cut the outside file
  WriteFile(queue + "/strip.q1", "body");
  link("outside-hold", "hold.q0");
  WriteFile(queue + "/hold.q1", "body");
  Pair("del", Header("a@x", "lottery"), "");
  std::filesystem::remove(queue + "/del.q1");
  link("outside-body", "del.q1");  // a link is no companion: the pair is incomplete
  ASSERT_EQ(::mkfifo((queue + "/fifo.q0").c_str(), 0600), 0);
  WriteFile(queue + "/fifo.q1", "body");
  link("Wait", "dir.q0");
  EXPECT_EQ(RunOnQueue(), 0);

  EXPECT_EQ(ListNames(queue), "Wait/ del.q0 del.q1 dir.q0 fifo.q0 fifo.q1 hold.q0 hold.q1 strip.q0 strip.q1");
  EXPECT_EQ(ListNames(queue + "/Wait"), "");
  EXPECT_EQ(ReadFile(temp / "outside-tagged"), tagged);
  EXPECT_EQ(ReadFile(temp / "outside-hold"), Header("newsletter@shop", "news"));
  EXPECT_EQ(ReadFile(temp / "outside-body"), "body");
  EXPECT_TRUE(std::filesystem::is_symlink(queue + "/strip.q0"));
  EXPECT_TRUE(std::filesystem::is_fifo(queue + "/fifo.q0"));
}

// The remailer replaces a header file by a FIFO after the folder was read:
// the open neither waits nor takes it, and the pass goes on.
TEST_F(SievbatTest, AHeaderReplacedByAFifoDuringThePassIsPassedOver) {
  class SwappingHost : public TestHost {
   public:
    using TestHost::TestHost;
    std::string swap;
    std::unique_ptr<platform::ReadStream> OpenRead(const std::string& path) override {
      if (path == swap) {
        std::filesystem::remove(path);
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
      }
      return TestHost::OpenRead(path);
    }
  };
  SwappingHost swapping(temp.path());
  swapping.swap = queue + "/a.q0";
  platform::ScopedHost swapped(swapping);
  Pair("a", Header("a@x", "lottery"));
  Pair("b", Header("a@x", "lottery"));
  EXPECT_EQ(RunOnQueue(), 0);
  EXPECT_EQ(ListNames(queue), "Wait/ a.q0 a.q1");
  EXPECT_TRUE(std::filesystem::is_fifo(queue + "/a.q0"));
}

// Letter case on a real folder: A.q0 has no companion while a.q0 owns a.q1.
TEST_F(SievbatTest, AFileOfAnotherMessageIsNeverTakenAsCompanion) {
  WriteFile(queue + "/A.q0", Header("a@x", "lottery"));
  Pair("a", Header("a@x", "hello"));
  WriteFile(queue + "/B.Q0", Header("a@x", "lottery"));
  WriteFile(queue + "/b.q1", "body");
  EXPECT_EQ(RunOnQueue(), 0);
  EXPECT_EQ(ListNames(queue), "A.q0 Wait/ a.q0 a.q1");
}

TEST_F(SievbatTest, CommandLineAndRuleFileFaultsTouchNothing) {
  Pair("del", Header("a@x", "lottery"));
  std::string out, err;
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"--dry-run"}}) {
    EXPECT_EQ(Run(args, &out, &err), 2);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err.find("usage: sievbat "), 0u);
  }

  EXPECT_EQ(Run({"--help"}, &out, &err), 0);
  EXPECT_NE(out.find("usage: sievbat "), std::string::npos);
  EXPECT_EQ(err, "");

  WriteFile(temp / "Filter.ini", "\"junk-\",\"Subject: \",\"lottery\"\r\n\"x\"\r\n");
  EXPECT_EQ(Run({queue}, &out, &err), 1);
  EXPECT_EQ(err, "sievbat: " + temp / "Filter.ini" + ": ends inside a record (line 2 has 1 of 3 fields: tag, "
                 "header word, pattern)\n");

  std::filesystem::remove(temp / "Filter.ini");
  EXPECT_EQ(Run({queue}, &out, &err), 1);
  EXPECT_EQ(err, "sievbat: " + temp / "Filter.ini" + ": not found\n");
  EXPECT_EQ(Run({"--dry-run", queue}, &out, &err), 1);  // the same fault, the same line
  EXPECT_EQ(out + err, "sievbat: " + temp / "Filter.ini" + ": not found\n");
  // A FIFO is never opened (a load would wait for a writer for ever), a
  // folder is named as one.
  ASSERT_EQ(::mkfifo((temp / "Filter.ini").c_str(), 0600), 0);
  EXPECT_EQ(Run({queue}, &out, &err), 1);
  EXPECT_EQ(err, "sievbat: " + temp / "Filter.ini" + ": is a FIFO (named pipe), not a file\n");
  std::filesystem::remove(temp / "Filter.ini");
  std::filesystem::create_directory(temp / "Filter.ini");
  EXPECT_EQ(Run({queue}, &out, &err), 1);
  EXPECT_EQ(err, "sievbat: " + temp / "Filter.ini" + ": is a folder, not a file\n");
  EXPECT_EQ(ListNames(queue), "Wait/ del.q0 del.q1");
  // A link to an ordinary file is what an installation has.
  std::filesystem::remove(temp / "Filter.ini");
  WriteFile(temp / "rules", "\"junk-\",\"Subject: \",\"lottery\"\r\n");
  std::filesystem::create_symlink(temp / "rules", temp / "Filter.ini");
  EXPECT_EQ(Run({queue}, &out, &err), 0);
  EXPECT_EQ(ListNames(queue), "Wait/");
  std::filesystem::remove(temp / "Filter.ini");

  EXPECT_EQ(Run({temp / "no such folder"}, &out, &err), 1);  // still no rules
}

}  // namespace
