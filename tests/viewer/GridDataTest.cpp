#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "viewer/GridData.h"

namespace {

using Strings = std::vector<std::string>;
using Corners = std::tuple<std::int64_t, int, std::int64_t, int>;  // Row, Col, RowSel, ColSel

Corners CornersOf(const GridData& g) { return {g.Row(), g.Col(), g.RowSel(), g.ColSel()}; }

// A grid whose non-fixed rows hold `rows` (cells left to right from column 0).
GridData GridWith(int cols, const std::vector<Strings>& rows) {
  GridData g(cols);
  g.SetRows(1 + static_cast<std::int64_t>(rows.size()));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      g.SetTextMatrix(static_cast<std::int64_t>(r + 1), static_cast<int>(c), rows[r][c]);
    }
  }
  return g;
}

Strings Column(const GridData& g, int col) {
  Strings out;
  for (std::int64_t r = g.FixedRows(); r < g.Rows(); ++r) out.push_back(g.TextMatrix(r, col));
  return out;
}

TEST(GridData, StartsWithHeaderAndOneEmptyRowAndTheFirstNonFixedCellCurrent) {
  GridData g(9);
  EXPECT_EQ(g.Rows(), 2);
  EXPECT_EQ(g.Cols(), 9);
  EXPECT_EQ(g.FixedRows(), 1);
  EXPECT_EQ(g.FixedCols(), 1);
  EXPECT_EQ(CornersOf(g), Corners(1, 1, 1, 1));
}

TEST(GridDataSelection, WritingRowOrColCollapsesAndEverythingIsClamped) {
  struct Case {
    const char* steps;  // r/c set Row/Col, R/C set RowSel/ColSel, each followed by its value
    std::vector<int> values;
    Corners expected;
  } cases[] = {
      {"RC", {5, 3}, {1, 1, 5, 3}},      {"RCr", {5, 3, 2}, {2, 1, 2, 1}},
      {"RCc", {5, 3, 4}, {1, 4, 1, 4}},  {"rRcC", {6, 2, 4, 0}, {6, 4, 6, 0}},
      {"rc", {99, 99}, {9, 4, 9, 4}},    {"rc", {-3, -1}, {0, 0, 0, 0}},
      {"RC", {-5, 77}, {1, 1, 0, 4}},
  };
  for (const Case& c : cases) {
    GridData g(5);
    g.SetRows(10);
    for (std::size_t i = 0; c.steps[i] != '\0'; ++i) {
      int v = c.values[i];
      switch (c.steps[i]) {
        case 'r': g.SetRow(v); break;
        case 'c': g.SetCol(v); break;
        case 'R': g.SetRowSel(v); break;
        case 'C': g.SetColSel(v); break;
      }
    }
    EXPECT_EQ(CornersOf(g), c.expected) << c.steps;
  }
}

TEST(GridDataSelection, IsTheRectangleBetweenTheCornersEitherWayRound) {
  GridData g(6);
  g.SetRows(10);
  g.SetRow(6);
  g.SetCol(3);
  g.SetRowSel(2);
  g.SetColSel(1);
  struct {
    std::int64_t row;
    int col;
    bool selected;
  } cells[] = {{2, 1, true}, {6, 3, true}, {4, 2, true}, {1, 2, false}, {7, 2, false}, {4, 0, false}, {4, 4, false}};
  for (const auto& c : cells) EXPECT_EQ(g.IsSelected(c.row, c.col), c.selected) << c.row << "," << c.col;
}

TEST(GridDataSelection, FollowsItsRowsWhenRowsGoAway) {
  struct Case {
    std::int64_t row, row_sel;
    char op;  // 'x' RemoveItem(arg), 'n' SetRows(arg)
    std::int64_t arg;
    std::int64_t rows, row_after, row_sel_after;
  } cases[] = {
      {2, 5, 'x', 8, 9, 2, 5},  // below the selection
      {2, 5, 'x', 1, 9, 1, 4},  // above: both corners move up with their rows
      {2, 5, 'x', 3, 9, 2, 4},  // inside
      {5, 2, 'x', 5, 9, 5, 2},  // the current row: the next one takes its place
      {9, 9, 'x', 9, 9, 8, 8},  // the last row, current
      {2, 5, 'x', 0, 10, 2, 5}, // the header row stays
      {2, 5, 'x', 10, 10, 2, 5},
      {2, 7, 'n', 4, 4, 2, 3},
      {6, 8, 'n', 2, 2, 1, 1},
      {6, 8, 'n', 0, 1, 0, 0},  // only the header row is left
  };
  for (const Case& c : cases) {
    GridData g(3);
    g.SetRows(10);
    g.SetRow(c.row);
    g.SetRowSel(c.row_sel);
    if (c.op == 'x') {
      g.RemoveItem(c.arg);
    } else {
      g.SetRows(c.arg);
    }
    EXPECT_EQ(g.Rows(), c.rows) << c.op << c.arg;
    EXPECT_EQ(g.Row(), c.row_after) << c.op << c.arg;
    EXPECT_EQ(g.RowSel(), c.row_sel_after) << c.op << c.arg;
  }
}

TEST(GridDataRows, AddRemoveClearAndStartingOver) {
  GridData g(3);
  g.SetTextMatrix(0, 1, "Subject: ");
  g.SetTextMatrix(1, 2, "first");
  g.AddItem("2");
  g.AddItem("3");
  ASSERT_EQ(g.Rows(), 4);
  EXPECT_EQ(Column(g, 0), (Strings{"", "2", "3"}));
  EXPECT_EQ(g.TextMatrix(2, 1), "");

  g.SetTextMatrix(3, 1, "last");
  g.SetCellPicture(3, 2, 7);
  g.RemoveItem(2);
  EXPECT_EQ(Column(g, 0), (Strings{"", "3"}));
  EXPECT_EQ(g.TextMatrix(2, 1), "last");
  EXPECT_EQ(g.CellPicture(2, 2), 7);

  g.Clear();
  EXPECT_EQ(g.Rows(), 3);
  for (std::int64_t r = 0; r < g.Rows(); ++r) {
    for (int c = 0; c < g.Cols(); ++c) {
      EXPECT_EQ(g.TextMatrix(r, c), "");
      EXPECT_EQ(g.CellPicture(r, c), 0);
    }
  }

  g.SetTextMatrix(0, 1, "Subject: ");
  g.SetTextMatrix(1, 1, "stale");
  g.SetRows(g.FixedRows() + 1);
  EXPECT_EQ(g.Rows(), 2);
  EXPECT_EQ(g.TextMatrix(0, 1), "Subject: ");
  EXPECT_EQ(g.TextMatrix(1, 1), "");
}

TEST(GridDataCells, OutOfRangeReadsEmptyAndIgnoresWrites) {
  GridData g(3);
  g.SetRows(3);
  struct {
    std::int64_t row;
    int col;
  } outside[] = {{-1, 0}, {3, 0}, {0, -1}, {0, 3}, {1LL << 40, 1}};
  for (const auto& c : outside) {
    g.SetTextMatrix(c.row, c.col, "x");
    g.SetCellPicture(c.row, c.col, 5);
    EXPECT_EQ(g.TextMatrix(c.row, c.col), "");
    EXPECT_EQ(g.CellPicture(c.row, c.col), 0);
  }
  for (std::int64_t r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(g.TextMatrix(r, c), "") << r << "," << c;
  }
}

TEST(GridDataColumns, FormatStringSetsEveryColumnsAlignment) {
  constexpr auto L = CellAlignment::kLeft;
  constexpr auto R = CellAlignment::kRight;
  struct Case {
    const char* format;
    std::vector<CellAlignment> expected;
  } cases[] = {
      {" >|< | >|< ", {R, L, R, L}}, {">", {R, L, L, L}},          {"<|>|>|>|>|>", {L, R, R, R}},
      {"  >||^|x", {R, L, L, L}},    {"", {L, L, L, L}},           {"|   >", {L, R, L, L}},
  };
  for (const Case& c : cases) {
    GridData g(4);
    g.SetFormatString(">|>|>|>");  // what was set before does not linger
    g.SetFormatString(c.format);
    for (int col = 0; col < 4; ++col) EXPECT_EQ(g.ColAlignment(col), c.expected[col]) << c.format << " col " << col;
  }
}

TEST(GridDataColumns, WidthsInTwips) {
  GridData g(3);
  const int initial = g.ColWidth(1);
  EXPECT_GT(initial, 0);
  g.SetColWidth(1, 0);
  g.SetColWidth(2, 2880);
  EXPECT_EQ(g.ColWidth(1), 0);
  EXPECT_EQ(g.ColWidth(2), 2880);
  g.SetColWidth(2, -1);  // back to the width of a column no one sized
  EXPECT_EQ(g.ColWidth(2), initial);
  g.SetColWidth(3, 100);
  EXPECT_EQ(g.ColWidth(3), 0);
}

TEST(GridDataKeys, StepsStopAtTheEdgesAndSkipHiddenColumns) {
  GridData g(6);
  g.SetRows(6);
  g.SetColWidth(3, 0);
  g.SetColWidth(5, 0);
  struct {
    std::int64_t row, step, expected;
  } rows[] = {{1, -1, 1}, {0, -1, 0}, {0, 1, 1}, {3, 2, 5}, {3, 100, 5}, {4, -100, 1}, {5, 1, 5}, {3, 0, 3}};
  for (const auto& c : rows) EXPECT_EQ(g.StepRow(c.row, c.step), c.expected) << c.row << " by " << c.step;
  struct {
    int col, step, expected;
  } cols[] = {{1, 1, 2}, {2, 1, 4}, {4, 1, 4}, {4, -1, 2}, {1, -1, 1}, {0, 1, 1}, {2, 5, 4}, {0, -1, 0}};
  for (const auto& c : cols) EXPECT_EQ(g.StepCol(c.col, c.step), c.expected) << c.col << " by " << c.step;
}

TEST(GridDataSort, ComparesNumbersAsNumbersAndTheRestAsText) {
  struct Case {
    const char* name;
    Strings keys;
    int setting;
    Strings expected;
  } cases[] = {
      {"9 before 10", {"10", "9", "100", "2"}, 1, {"2", "9", "10", "100"}},
      {"descending", {"10", "9", "100", "2"}, 2, {"100", "10", "9", "2"}},
      {"signs, decimals, blanks",
       {" 7 ", "-2", "1.5", "+3", "-10.25", "0.75", ".5"},
       1,
       {"-10.25", "-2", ".5", "0.75", "1.5", "+3", " 7 "}},
      {"longer than any machine integer",
       {"123456789012345678901234567890", "99999999999999999999999999999", "-123456789012345678901234567890"},
       1,
       {"-123456789012345678901234567890", "99999999999999999999999999999", "123456789012345678901234567890"}},
      {"numbers and text mixed", {"abc", "10", "ABD", "9"}, 1, {"9", "10", "abc", "ABD"}},
      {"not numbers", {"1e3", "1,5", "", "12a", "-", "."}, 1, {"", "-", ".", "1,5", "12a", "1e3"}},
      {"ASCII case ignored, equal keys keep their order", {"b", "A", "a", "B"}, 1, {"A", "a", "b", "B"}},
      {"equal keys keep their order descending too", {"b", "A", "a", "B"}, 2, {"b", "B", "A", "a"}},
      {"equal numbers keep their order", {"1.10", "1.1", "01.1", "-0", "0"}, 1, {"-0", "0", "1.10", "1.1", "01.1"}},
      {"other bytes by value", {"\xE9t\xE9", "z", "\xC3\xA9t\xC3\xA9", "Z"}, 1, {"z", "Z", "\xC3\xA9t\xC3\xA9", "\xE9t\xE9"}},
      {"a setting other than 1 or 2 does nothing", {"b", "a"}, 3, {"b", "a"}},
  };
  for (const Case& c : cases) {
    std::vector<Strings> rows;
    for (const std::string& key : c.keys) rows.push_back({"", key});
    GridData g = GridWith(2, rows);
    g.SetRow(1);
    g.SetCol(1);
    g.Sort(c.setting);
    EXPECT_EQ(Column(g, 1), c.expected) << c.name;
  }
}

TEST(GridDataSort, SortsOnlyRowsRowToRowSelWhenTheyDiffer) {
  for (auto [row, row_sel] : {std::pair<int, int>{2, 4}, {4, 2}}) {
    GridData g = GridWith(2, {{"", "f"}, {"", "e"}, {"", "d"}, {"", "c"}, {"", "b"}});
    g.SetRow(row);
    g.SetCol(1);
    g.SetRowSel(row_sel);
    g.Sort(1);
    EXPECT_EQ(Column(g, 1), (Strings{"f", "c", "d", "e", "b"})) << row << ".." << row_sel;
  }
}

TEST(GridDataSort, NeverMovesTheHeaderRow) {
  GridData g = GridWith(2, {{"", "b"}, {"", "a"}});
  g.SetTextMatrix(0, 1, "Subject: ");
  g.SetRow(0);
  g.SetCol(1);
  g.SetRowSel(2);
  g.Sort(1);
  EXPECT_EQ(g.TextMatrix(0, 1), "Subject: ");
  EXPECT_EQ(Column(g, 1), (Strings{"a", "b"}));
}

TEST(GridDataSort, KeyColumnsColToColSelInOrderAndWholeRowsMoveWithTheirPictures) {
  for (auto [col, col_sel] : {std::pair<int, int>{1, 2}, {2, 1}}) {
    GridData g = GridWith(4, {{"1", "b", "10", "x1"}, {"2", "a", "9", "x2"}, {"3", "b", "9", "x3"}, {"4", "a", "10", "x4"}});
    g.SetCellPicture(1, 3, 11);
    g.SetCellPicture(4, 0, 44);
    g.SetRow(1);
    g.SetCol(col);
    g.SetColSel(col_sel);
    g.Sort(1);
    EXPECT_EQ(Column(g, 0), (Strings{"2", "4", "3", "1"}));
    EXPECT_EQ(Column(g, 3), (Strings{"x2", "x4", "x3", "x1"}));
    EXPECT_EQ(g.CellPicture(4, 3), 11);
    EXPECT_EQ(g.CellPicture(2, 0), 44);
    EXPECT_EQ(g.CellPicture(1, 3), 0);
  }
}

}  // namespace
