// Runs the built sievbat program itself: Filter.ini beside the executable,
// the folder given as several arguments.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/TestSupport.h"

namespace {

using test_support::ListNames;
using test_support::WriteFile;

// Every run draws its own collision names, so passes that run at the same
// time do not all try the same ones.
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

    EXPECT_EQ(test_support::RunCommand("'" + temp / "prog/sievbat" + "'", &output), 2);
    EXPECT_NE(output.find("usage"), std::string::npos);
  }
  EXPECT_NE(waits[0], waits[1]);
  for (const std::string& wait : waits) EXPECT_EQ(wait.substr(0, 4), "~col") << wait;
}

}  // namespace
