#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "batch/main_Sievbat.h"
#include "shared/Module_Messages.h"
#include "shared/Module_MySafeRename.h"
#include "shared/Module_SalvageTag.h"
#include "tests/TestSupport.h"

namespace {

using test_support::AsNobody;
using test_support::ListNames;
using test_support::Tagged;
using test_support::ReadFile;
using test_support::WriteFile;

std::string Header(const std::string& from, const std::string& subject) {
  return "Q 1 smtp relay 0\r\n12/06/26 14:03:22\r\nFrom: " + from + "\r\nTo: op@example.net\r\nSubject: " + subject +
         "\r\n\r\n";
}

class SievbatTest : public ::testing::Test {
 protected:
  test_support::TempFolder temp;
  std::string queue = temp / "Mail Out";  // a blank in the path, passed bare
  test_support::TestHost host_fs{temp.path()};

  void SetUp() override {
    std::filesystem::create_directories(queue + "/Wait");
    WriteFile(temp / "Filter.ini",
              "\"junk-\",\"Subject: \",\"lottery\"\r\n\"bulkW\",\"From: \",\"newsletter@\"\r\n");
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
};

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
  std::string out, err;
  EXPECT_EQ(Run({temp / "Mail", "Out"}, &out, &err), 0);
  EXPECT_EQ(out + err, "");
  EXPECT_EQ(ListNames(queue), "Wait/ late.q0 late.q1");
}

// Faults of the command line and of a rule file only a real folder can
// have; the others are rows of the sievbat fault table.
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

  // A FIFO is never opened: a load would wait for a writer for ever.
  std::filesystem::remove(temp / "Filter.ini");
  ASSERT_EQ(::mkfifo((temp / "Filter.ini").c_str(), 0600), 0);
  EXPECT_EQ(Run({queue}, &out, &err), 1);
  EXPECT_EQ(err, "sievbat: " + temp / "Filter.ini" + ": is a FIFO (named pipe), not a file\n");
  EXPECT_EQ(ListNames(queue), "Wait/ del.q0 del.q1");
  // A link to an ordinary file is what an installation has; a folder that
  // is not there is an empty queue.
  std::filesystem::remove(temp / "Filter.ini");
  WriteFile(temp / "rules", "\"junk-\",\"Subject: \",\"lottery\"\r\n");
  std::filesystem::create_symlink(temp / "rules", temp / "Filter.ini");
  EXPECT_EQ(Run({queue}, &out, &err), 0);
  EXPECT_EQ(ListNames(queue), "Wait/");
  EXPECT_EQ(Run({temp / "no such folder"}, &out, &err), 0);
  EXPECT_EQ(out + err, "");
}

// The built program: Filter.ini beside the executable, the folder given as
// several arguments. Every run draws its own collision names, so passes that
// run at the same time do not all try the same ones.
TEST(SievbatProgram, DrawsOtherCollisionNamesInEveryRun) {
  std::vector<std::string> waits;
  for (int run = 0; run < 2; ++run) {
    test_support::TempFolder temp;
    const std::string sievbat = test_support::InstallProgram(SIEVBAT_PATH, temp / "prog", "\"W\",\"From: \",\"news\"\r\n");
    std::string queue = temp / "my queue";
    std::filesystem::create_directories(queue + "/Wait");
    WriteFile(queue + "/wwwwww.q0", "l1\r\nl2\r\nFrom: news@x\r\n\r\n");
    WriteFile(queue + "/wwwwww.q1", "b");

    std::string output;
    EXPECT_EQ(test_support::RunCommand("'" + sievbat + "' '" + temp / "my" + "' queue", &output), 0);
    EXPECT_EQ(output, "");
    EXPECT_EQ(ListNames(queue), "Wait/");
    waits.push_back(ListNames(queue + "/Wait"));
    EXPECT_EQ(test_support::RunCommand("'" + sievbat + "'", &output), 2);  // no folder
  }
  EXPECT_NE(waits[0], waits[1]);
  // Both files under one collision name: "~col" and four small letters or digits.
  const std::regex pair(R"((~col[a-z0-9]{4})\.q0 \1\.q1)");
  for (const std::string& wait : waits) EXPECT_TRUE(std::regex_match(wait, pair)) << wait;
}


// Another program changes the header between the strip's read and its
// rename: the new version never replaces it, whatever was done to it.
TEST_F(SievbatTest, AStripNeverReplacesAHeaderChangedSinceItWasRead) {
  const std::string header = Header("a@x", "hello"), tagged = Tagged(header);
  const std::string path = queue + "/s.q0", outside = temp / "outside";
  // What another program does, and the header afterwards.
  const struct { const char* name; std::function<void()> change; std::string left; } rows[] = {
      {"nothing", [] {}, header},
      {"cut short", [&] { std::filesystem::resize_file(path, 20); }, tagged.substr(0, 20)},
      {"given a second name", [&] { std::filesystem::create_hard_link(path, outside); }, tagged},
      {"appended to", [&] { std::ofstream(path, std::ios::app) << "X-Late: 1\r\n"; }, tagged + "X-Late: 1\r\n"},
  };
  for (const auto& row : rows) {
    std::filesystem::remove(outside);
    Pair("s", tagged);
    host_fs.before_replace = [&](const std::string&) { row.change(); };
    std::string out;
    EXPECT_EQ(Run({"--verbose", queue}, &out), 0);
    host_fs.before_replace = nullptr;
    EXPECT_EQ(ReadFile(path), row.left) << row.name;
    EXPECT_EQ(out, row.left == header ? "s.q0\tXXX\tstrip\n" : "s.q0\tXXX\tfailed\tstrip\n") << row.name;
    EXPECT_EQ(ListNames(queue), "Wait/ s.q0 s.q1") << row.name;  // no new version left behind
  }
}

// The new version of a header keeps its mode, owner and group. A pass that
// cannot give it the owner goes ahead only when the group has the owner's
// rights; otherwise the tag stays and the strip is told as failed.
TEST_F(SievbatTest, AStrippedHeaderKeepsWhoMayUseIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files of other users";
  const std::string tagged = Tagged(Header("a@x", "hello")), path = queue + "/s.q0";
  ASSERT_EQ(::chmod(temp.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(queue.c_str(), 0777), 0);
  const struct { uid_t owner; gid_t group; mode_t mode; bool as_nobody, stripped; } rows[] = {
      {65534, 65534, 0640, false, true},  // root gives the new version away
      {0, 65534, 0660, true, true},       // the group has the owner's rights
      {0, 65534, 0640, true, false},      // it has not
      {0, 0, 0666, true, false},          // the group cannot be kept
  };
  for (const auto& row : rows) {
    Pair("s", tagged);
    ASSERT_EQ(::chown(path.c_str(), row.owner, row.group), 0);
    ASSERT_EQ(::chmod(path.c_str(), row.mode), 0);
    auto strip = [&] { return StripSalvageTag(queue, "s.q0"); };
    bool done = row.as_nobody ? AsNobody(strip) == 0 : strip();
    EXPECT_EQ(done, row.stripped) << row.mode;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(ReadFile(path) == tagged, !row.stripped) << row.mode;
    EXPECT_EQ(std::tuple(st.st_mode & 07777, st.st_gid, st.st_uid),
              std::tuple(row.mode, row.group, row.stripped && row.as_nobody ? 65534u : row.owner));
    EXPECT_EQ(ListNames(queue), "Wait/ s.q0 s.q1");
  }
}

// Wait must be a real folder: a link there, wherever it leads, fails the
// hold and nothing moves, pass after pass.
TEST_F(SievbatTest, AWaitThatIsALinkIsNoTarget) {
  std::filesystem::create_directories(temp / "outside");
  for (const std::string& target : {temp / "outside", std::string(".."), std::string(".")}) {
    std::filesystem::remove_all(queue + "/Wait");
    std::filesystem::create_directory_symlink(target, queue + "/Wait");
    Pair("h", Header("newsletter@shop", "news"));
    for (int pass = 0; pass < 2; ++pass) {
      std::string out;
      EXPECT_EQ(Run({"--verbose", queue}, &out), 0);
      EXPECT_EQ(out, "h.q0\tFrbulkW\tfailed\thold\n") << target;
    }
    EXPECT_EQ(ListNames(queue), "Wait/ h.q0 h.q1") << target;
    EXPECT_TRUE(std::filesystem::is_symlink(queue + "/Wait"));
    EXPECT_EQ(ListNames(temp / "outside"), "");
    EXPECT_EQ(ListNames(temp.path()), "Filter.ini Mail Out/ outside/");
  }
}

}  // namespace
