// The sample installation read back through the product's own readers: what
// the viewer and sievbat make of it is what an operator trying the tools sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "demo/SampleInstallation.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "shared/Module_Filter.h"
#include "shared/Module_InternetTime.h"
#include "shared/Module_Messages.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;

namespace {

using test_support::ReadFile;
using test_support::TempFolder;
using test_support::TreeUnder;

TEST(SampleDeterminism, SameSeedSameTreeOtherSeedOtherTree) {
  TempFolder a, b, c;
  sample::WriteSampleInstallation(a.path(), {.seed = 5, .messages_per_queue = 20});
  sample::WriteSampleInstallation(b.path(), {.seed = 5, .messages_per_queue = 20});
  sample::WriteSampleInstallation(c.path(), {.seed = 6, .messages_per_queue = 20});
  const auto first = TreeUnder(a.path());
  EXPECT_GT(first.size(), 200u);
  EXPECT_EQ(first, TreeUnder(b.path()));
  EXPECT_NE(first, TreeUnder(c.path()));
}

// Every message file read as the viewer lists it, with the sample's own
// Filter.ini loaded: each message reads, dates read, and the rules have work.
TEST(SampleInstallation, ReadsWholeThroughTheProductsReaders) {
  TempFolder dir;
  sample::WriteSampleInstallation(dir.path(), {.seed = 42, .messages_per_queue = 40});
  test_support::TestHost host(dir.path());
  ASSERT_NO_THROW(LoadFilterTable());
  // Every sample rule loads but the one whose header word the filter does not
  // know, there to show that such a rule is ignored.
  const FilterTable& rules = CurrentFilterTable();
  EXPECT_EQ(rules.FromList.RuleCount() + rules.SubjectList.RuleCount() + rules.ToList.RuleCount() +
                rules.NewsgroupsList.RuleCount(),
            static_cast<std::int64_t>(sample::SampleFilterRules().size()) - 1);

  std::map<char, std::size_t> seen;  // '-' delete, 'W' hold, 'l' label, 'X' salvaged, '0' empty
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
    const std::string path = entry.path().string();
    const std::string extension = platform::AsciiLower(entry.path().extension().string());
    if (!entry.is_regular_file() || extension == ".q1" || entry.path().filename() == "Filter.ini") continue;
    const bool pair = extension == ".q0";
    MessageRecord m;
    m.Path = path;
    ASSERT_TRUE(pair ? ReadMessageHeaders(m) : ReadSingleFileHeaders(m)) << path;
    if (entry.file_size() == 0) {
      ++seen['0'];
      continue;
    }
    EXPECT_FALSE(m.From.empty() || m.Subject.empty()) << path;
    if (!pair) {
      EXPECT_NE(m.Date, UnreadableInternetDate()) << path << ": Date: does not read";
      EXPECT_LT(ReadFile(path).find("\r\n\r\n") + 4, entry.file_size()) << path << " has no body";
      continue;
    }
    EXPECT_FALSE(m.Date == DateTime()) << path << ": line 2 is not a date";
    EXPECT_EQ(m.Newsgroups.empty(), path.find("/NNTP/") == std::string::npos) << path;
    const std::string tag = ClassifyMessage(m);
    if (!tag.empty()) ++seen[tag == "XXX" ? 'X' : tag.back() == '-' || tag.back() == 'W' ? tag.back() : 'l'];
  }
  for (char c : {'-', 'W', 'l', 'X', '0'}) EXPECT_GE(seen[c], 4u) << c;
}

int RunMakeSample(const std::string& args, std::string* log) {
  return test_support::RunCommand(std::string(MAKE_SAMPLE_PATH) + " " + args, log);
}

TEST(MakeSampleCommand, RefusesNonEmptyFolderUnlessForced) {
  TempFolder dir;
  const fs::path out = dir / "out";
  std::string log;
  fs::create_directories(out);
  sample::WriteFile(out / "keep.txt", "mine");

  EXPECT_NE(RunMakeSample("--messages 5 '" + out.string() + "'", &log), 0);
  EXPECT_FALSE(fs::exists(out / "Kestrane"));
  EXPECT_NE(log.find("--force"), std::string::npos);

  ASSERT_EQ(RunMakeSample("--messages 5 --seed 3 --force '" + out.string() + "'", &log), 0) << log;
  EXPECT_TRUE(fs::is_directory(out / "Kestran2" / "Mail" / "~Bounces" / "Errors"));
  EXPECT_EQ(ReadFile(out / "keep.txt"), "mine");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;

  // A forced rerun with fewer messages leaves no files of the larger run behind.
  const auto before = TreeUnder((out / "Kestrane").string());
  ASSERT_EQ(RunMakeSample("--messages 2 --seed 3 --force '" + out.string() + "'", &log), 0) << log;
  EXPECT_LT(TreeUnder((out / "Kestrane").string()).size(), before.size());

  EXPECT_EQ(RunMakeSample("--help", &log), 0);
  EXPECT_NE(RunMakeSample("--size huge '" + out.string() + "'", &log), 0);
}

}  // namespace
