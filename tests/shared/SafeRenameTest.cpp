#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/FileSystem.h"
#include "shared/Module_MySafeRename.h"
#include "shared/Module_SalvageTag.h"
#include "tests/TestSupport.h"
#include "tests/platform/FakeFileSystem.h"

namespace {

using test_support::ListNames;
using test_support::ReadFile;
using test_support::WriteFile;

TEST(FileNameParts, SplitAtTheFirstDotInLowerCase) {
  struct Case {
    const char* name;
    const char* base;
    const char* extension;
  } cases[] = {
      {"ABC.Q0", "abc", ".q0"}, {"a.b.q0", "a", ".b.q0"}, {"noext", "noext", ""}, {".q0", "", ".q0"}, {"x.", "x", "."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetBaseName(c.name), c.base) << c.name;
    EXPECT_EQ(GetExtension(c.name), c.extension) << c.name;
  }
}

TEST(NewCollisionName, IsTheSameSequenceInEveryRun) {
  ResetCollisionNameGenerator();
  std::vector<std::string> first{NewCollisionName(), NewCollisionName(), NewCollisionName()};
  ResetCollisionNameGenerator();
  std::vector<std::string> again{NewCollisionName(), NewCollisionName(), NewCollisionName()};
  EXPECT_EQ(first, again);
  EXPECT_NE(first[0], first[1]);
  for (const auto& name : first) EXPECT_TRUE(std::regex_match(name, std::regex("~COL[A-Z0-9]{4}"))) << name;
}

class SafeRenameTest : public ::testing::Test {
 protected:
  test_support::TempFolder temp;
  std::string src = temp / "src";
  std::string dst = temp / "dst";
  void SetUp() override {
    std::filesystem::create_directory(src);
    std::filesystem::create_directory(dst);
    ResetCollisionNameGenerator();
  }
  static std::string Collision(int n) {
    ResetCollisionNameGenerator();
    std::string name;
    for (int i = 0; i < n; ++i) name = NewCollisionName();
    ResetCollisionNameGenerator();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  }
};

TEST_F(SafeRenameTest, PairsArriveInLowerCaseTogether) {
  WriteFile(src + "/AbC.Q0", "head");
  WriteFile(src + "/AbC.Q1", "body");
  SafeRenameMessage(src, dst, "AbC.Q0");
  EXPECT_EQ(ListNames(src), "");
  EXPECT_EQ(ListNames(dst), "abc.q0 abc.q1");
  EXPECT_EQ(ReadFile(dst + "/abc.q1"), "body");
}

TEST_F(SafeRenameTest, TakenNamesInAnyCaseGiveOneCollisionNameAndOverwriteNothing) {
  std::string c1 = Collision(1);
  WriteFile(src + "/m.q0", "head");
  WriteFile(src + "/m.q1", "body");
  WriteFile(dst + "/M.Q1", "theirs");  // only the companion's name is taken, in capitals
  SafeRenameMessage(src, dst, "m.q0");
  EXPECT_EQ(ListNames(dst), "M.Q1 " + c1 + ".q0 " + c1 + ".q1");
  EXPECT_EQ(ReadFile(dst + "/M.Q1"), "theirs");
  EXPECT_EQ(ReadFile(dst + "/" + c1 + ".q0"), "head");

  WriteFile(src + "/note.txt", "mine");
  WriteFile(dst + "/NOTE.TXT", "theirs");
  WriteFile(src + "/README", "mine");
  WriteFile(dst + "/readme", "theirs");
  SafeRenameMessage(src, dst, "note.txt");
  SafeRenameMessage(src, dst, "README");
  EXPECT_EQ(ListNames(src), "");
  EXPECT_EQ(ReadFile(dst + "/NOTE.TXT"), "theirs");
  EXPECT_EQ(ReadFile(dst + "/" + Collision(2) + ".txt"), "mine");
  EXPECT_EQ(ReadFile(dst + "/" + Collision(3)), "mine");
}

TEST_F(SafeRenameTest, WwwwwwPairsAlwaysGetACollisionNameButSingleFilesKeepIt) {
  WriteFile(src + "/wwwwww.q0", "h");
  WriteFile(src + "/wwwwww.q1", "b");
  WriteFile(src + "/wwwwww.txt", "t");
  SafeRenameMessage(src, dst, "wwwwww.q0");
  SafeRenameMessage(src, dst, "wwwwww.txt");
  std::string c1 = Collision(1);
  EXPECT_EQ(ListNames(dst), "wwwwww.txt " + c1 + ".q0 " + c1 + ".q1");
}

TEST_F(SafeRenameTest, OddPairsAndMissingFolders) {
  WriteFile(src + "/a.b.q0", "h");
  WriteFile(src + "/a.b.q1", "b");
  SafeRenameMessage(src, dst, "a.b.q0");  // two dots: moves alone
  WriteFile(src + "/solo.q0", "h");
  SafeRenameMessage(src, dst, "solo.q0");  // companion missing: the .q0 still moves
  EXPECT_EQ(ListNames(src), "a.b.q1");
  EXPECT_EQ(ListNames(dst), "a.b.q0 solo.q0");

  WriteFile(src + "/x.q0", "h");
  SafeRenameMessage(src, temp / "nowhere", "x.q0");
  SafeRenameMessage(temp / "nowhere", dst, "x.q0");
  EXPECT_TRUE(test_support::Exists(src + "/x.q0"));
}

TEST(AddSalvageTag, WritesOverTheLastTwoBytesOrLeavesTheFileAlone) {
  testing_host::FakeFileSystem fs;
  platform::ScopedHost host(fs);
  fs.AddFile("/q/a.q0", "l1\r\nl2\r\nFrom: x\r\n\r\n");
  fs.AddFile("/q/one.q0", "x");
  fs.AddFile("/q/full.q0", "l1\r\n\r\n");
  EXPECT_TRUE(AddSalvageTag("/q/a.q0"));
  EXPECT_EQ(fs.Contents("/q/a.q0"), "l1\r\nl2\r\nFrom: x\r\nX-Salvaged: yes\r\n\r\n");
  EXPECT_FALSE(AddSalvageTag("/q/one.q0"));
  EXPECT_EQ(fs.Contents("/q/one.q0"), "x");
  EXPECT_FALSE(AddSalvageTag("/q/missing.q0"));
  EXPECT_FALSE(fs.HasFile("/q/missing.q0"));

  fs.free_bytes = 10;  // the disk fills up part-way through the tag
  EXPECT_FALSE(AddSalvageTag("/q/full.q0"));
  EXPECT_EQ(fs.Contents("/q/full.q0"), "l1\r\n\r\n");
}

}  // namespace
