#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "batch/main_Sievbat.h"
#include "shared/Module_Messages.h"
#include "shared/Module_SalvageTag.h"
#include "tests/TestSupport.h"

namespace {

using test_support::TestHost;
using test_support::ListNames;
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
  TestHost host_fs{temp.path()};
  platform::ScopedHost host{host_fs};

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
  int RunOnQueue() {
    std::string out, err;
    int status = Run({temp / "Mail", "Out"}, &out, &err);
    EXPECT_EQ(out + err, "");
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
  EXPECT_EQ(RunOnQueue(), 0);
  EXPECT_EQ(ListNames(queue), "Wait/ late.q0 late.q1");
}

// A symbolic link is never a message, whatever it points to, and a FIFO is
// never waited on: the pass leaves them, and what they lead to, untouched.
TEST_F(SievbatTest, LinksAndFifosAreNeverMessages) {
  std::string tagged = Header("a@x", "lottery");
  tagged.replace(tagged.size() - 2, 2, SalvageTagText);
  // Links to outside files: the strip would cut one, a hold would move one, a
  // link is no companion (the pair is incomplete).
  const std::pair<std::string, std::string> links[] = {
      {"strip.q0", tagged}, {"hold.q0", Header("newsletter@shop", "news")}, {"del.q1", "body"}};
  for (const auto& [name, bytes] : links) {
    WriteFile(temp / name, bytes);
    std::filesystem::create_symlink(temp / name, queue + "/" + name);
  }
  WriteFile(queue + "/strip.q1", "body");
  WriteFile(queue + "/hold.q1", "body");
  WriteFile(queue + "/del.q0", Header("a@x", "lottery"));
  ASSERT_EQ(::mkfifo((queue + "/fifo.q0").c_str(), 0600), 0);
  WriteFile(queue + "/fifo.q1", "body");
  std::filesystem::create_symlink(queue + "/Wait", queue + "/dir.q0");
  EXPECT_EQ(RunOnQueue(), 0);

  EXPECT_EQ(ListNames(queue), "Wait/ del.q0 del.q1 dir.q0/ fifo.q0 fifo.q1 hold.q0 hold.q1 strip.q0 strip.q1");
  EXPECT_EQ(ListNames(queue + "/Wait"), "");
  for (const auto& [name, bytes] : links) EXPECT_EQ(ReadFile(temp / name), bytes) << name;
  EXPECT_TRUE(std::filesystem::is_symlink(queue + "/strip.q0"));
  EXPECT_TRUE(std::filesystem::is_fifo(queue + "/fifo.q0"));
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
    std::filesystem::create_directory(temp / "prog");
    std::filesystem::copy_file(SIEVBAT_PATH, temp / "prog/sievbat");
    std::filesystem::permissions(temp / "prog/sievbat", std::filesystem::perms::owner_all);
    WriteFile(temp / "prog/Filter.ini", "\"W\",\"From: \",\"news\"\r\n");
    std::string queue = temp / "my queue";
    std::filesystem::create_directories(queue + "/Wait");
    WriteFile(queue + "/wwwwww.q0", "l1\r\nl2\r\nFrom: news@x\r\n\r\n");
    WriteFile(queue + "/wwwwww.q1", "b");

    std::string output;
    EXPECT_EQ(test_support::RunCommand("'" + temp / "prog/sievbat" + "' '" + temp / "my" + "' queue", &output), 0);
    EXPECT_EQ(output, "");
    EXPECT_EQ(ListNames(queue), "Wait/");
    waits.push_back(ListNames(queue + "/Wait"));
    EXPECT_EQ(test_support::RunCommand("'" + temp / "prog/sievbat" + "'", &output), 2);  // no folder
  }
  EXPECT_NE(waits[0], waits[1]);
  // Both files under one collision name: "~col" and four small letters or digits.
  const std::regex pair(R"((~col[a-z0-9]{4})\.q0 \1\.q1)");
  for (const std::string& wait : waits) EXPECT_TRUE(std::regex_match(wait, pair)) << wait;
}

}  // namespace
