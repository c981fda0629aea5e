#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "shared/Module_Filter.h"
#include "tests/platform/FakeFileSystem.h"
#include "listing/GridLoader.h"

namespace {

using testing_host::FakeFileSystem;

TEST(FormatDigits, FollowsTheCounterPatterns) {
  struct Case { std::int64_t value; const char* pattern; const char* text; } cases[] = {
      {0, "# ##0", " 0"},          {5, "# ##0", " 5"},          {999, "# ##0", " 999"},
      {1234, "# ##0", "1 234"},    {12345, "# ##0", "12 345"},  {678, "# ### ##0", "  678"},
      {12345678, "# ### ##0", "12 345 678"}, {1234567890, "# ### ##0", "1234 567 890"},
      {1, "000", "001"},           {32767, "000", "32767"},     {42, "0", "42"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDigits(c.value, c.pattern), c.text) << c.value << " " << c.pattern;
}

struct Recorder : GridLoadObserver {
  std::vector<GridCells> rows;
  std::vector<std::string> infos;
  void RowAdded(std::int64_t row, GridCells& cells) override {
    EXPECT_EQ(row, static_cast<std::int64_t>(rows.size() + 1));
    rows.push_back(cells);
  }
  void CountersChanged(const GridCounters& c) override { infos.push_back(c.Info1 + "|" + c.Info2 + "|" + c.Info3); }
};

class LoadGridRowsTest : public ::testing::Test {
 protected:
  FakeFileSystem fs;
  void SetUp() override {
    fs.AddFile("/prog/Filter.ini", "\"hold W\",\"Subject: \",\"urgent\"\r\n");
    LoadFilterTable();
  }
};

TEST_F(LoadGridRowsTest, ListsPairsWithTheirCellsAndRunningCounters) {
  fs.AddFile("/q/a.q0", "Q\r\n12/06/26 14:03:22\r\nSubject: URGENT now\r\nFrom: f\r\nTo: t\r\nReturn-Path: r\r\n\r\n");
  for (auto [path, bytes] : {std::pair{"/q/a.q1", "12345"}, {"/q/empty.q0", ""}, {"/q/b.q0", "Q\r\nno date\r\n"},
                             {"/q/b.q1", ""}, {"/q/c.txt", "not listed with the pair mask"}}) {
    fs.AddFile(path, bytes);
  }
  fs.AddFolder("/q/sub.q0");
  Recorder rec;
  GridCounters c = LoadGridRows("/q", 4, rec);

  ASSERT_EQ(rec.rows.size(), 2u);
  const GridCells& a = rec.rows[0];
  EXPECT_EQ(a, (GridCells{"1", "a.q0", std::to_string(fs.Contents("/q/a.q0").size() + 5), "Suhold W", "URGENT now", "f",
                          "t", "r", "~2026/12/06 14:03:22"}));
  EXPECT_EQ(rec.rows[1][8], "~1899/12/30 00:00:00");
  EXPECT_EQ(std::tuple(c.Files, c.Empty), std::tuple(2, 1));
  // Enumeration order: a.q0, b.q0, empty.q0; an empty file changes only its box.
  EXPECT_EQ(rec.infos, (std::vector<std::string>{" 1|  " + a[2] + "|0", " 2|  " + std::to_string(c.Bytes) + "|0",
                                                 " 2|  " + std::to_string(c.Bytes) + "| 1"}));
}

TEST_F(LoadGridRowsTest, RowNumbersKeepCountingPastSixteenBits) {
  for (int i = 0; i < 32800; ++i) fs.AddFile("/big/m" + std::to_string(i), "x");
  Recorder rec;
  GridCounters c = LoadGridRows("/big", 1, rec);
  ASSERT_EQ(rec.rows.size(), 32800u);
  EXPECT_EQ(rec.rows.back()[0], "32800");
  EXPECT_EQ(c.Info1, "32 800");
}

}  // namespace
