#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "listing/GridData.h"

namespace {

using Strings = std::vector<std::string>;
using Corners = std::tuple<std::int64_t, int, std::int64_t, int>;  // Row, Col, RowSel, ColSel

// A grid whose non-fixed rows hold `rows`, cells from column 0.
GridData GridWith(int cols, const std::vector<Strings>& rows) {
  GridData g(cols);
  g.SetRows(1 + static_cast<std::int64_t>(rows.size()));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) g.SetTextMatrix(std::int64_t(r + 1), int(c), rows[r][c]);
  }
  return g;
}

Strings Column(const GridData& g, int col) {
  Strings out;
  for (std::int64_t r = g.FixedRows(); r < g.Rows(); ++r) out.push_back(g.TextMatrix(r, col));
  return out;
}

TEST(GridDataSelection, WritingRowOrColCollapsesAndEverythingIsClamped) {
  // Steps: r/c write Row/Col, R/C write RowSel/ColSel, one value each.
  struct Case { const char* steps; std::vector<int> values; Corners expected; } cases[] = {
      {"", {}, {1, 1, 1, 1}},           {"RC", {5, 3}, {1, 1, 5, 3}},         {"RCr", {5, 3, 2}, {2, 1, 2, 1}},
      {"RCc", {5, 3, 4}, {1, 4, 1, 4}}, {"rRcC", {6, 2, 4, 0}, {6, 4, 6, 0}}, {"rc", {99, 99}, {9, 4, 9, 4}},
      {"rc", {-3, -1}, {0, 0, 0, 0}},   {"RC", {-5, 77}, {1, 1, 0, 4}},
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
    EXPECT_EQ(Corners(g.Row(), g.Col(), g.RowSel(), g.ColSel()), c.expected) << c.steps;
    if (c.expected == Corners(6, 4, 6, 0)) {  // the rectangle between the corners, either way round
      EXPECT_TRUE(g.IsSelected(6, 0) && g.IsSelected(6, 4) && g.IsSelected(6, 2));
      EXPECT_FALSE(g.IsSelected(5, 2) || g.IsSelected(7, 2));
    }
  }
}

TEST(GridDataSelection, FollowsItsRowsWhenRowsGoAway) {
  // Row and RowSel; then `op`: 'x' RemoveItem(arg), 'n' SetRows(arg); then Rows, Row and RowSel.
  struct Case { std::int64_t row, row_sel; char op; std::int64_t arg, rows, row_after, row_sel_after; } cases[] = {
      {2, 5, 'x', 8, 9, 2, 5}, {2, 5, 'x', 1, 9, 1, 4},  {2, 5, 'x', 3, 9, 2, 4},   {5, 2, 'x', 5, 9, 5, 2},
      {9, 9, 'x', 9, 9, 8, 8}, {2, 5, 'x', 0, 10, 2, 5}, {2, 5, 'x', 10, 10, 2, 5}, {2, 7, 'n', 4, 4, 2, 3},
      {6, 8, 'n', 2, 2, 1, 1}, {6, 8, 'n', 0, 1, 0, 0},  // only the header row is left
  };
  for (const Case& c : cases) {
    GridData g(3);
    g.SetRows(10);
    g.SetRow(c.row);
    g.SetRowSel(c.row_sel);
    c.op == 'x' ? g.RemoveItem(c.arg) : g.SetRows(c.arg);
    EXPECT_EQ(std::tuple(g.Rows(), g.Row(), g.RowSel()), std::tuple(c.rows, c.row_after, c.row_sel_after))
        << c.op << c.arg << " from " << c.row << ".." << c.row_sel;
  }
}

TEST(GridDataRows, AddRemoveClearAndStartingOver) {
  GridData g(3);
  g.SetTextMatrix(1, 2, "first");
  g.AddItem("2");
  g.AddItem("3");
  g.SetTextMatrix(3, 1, "last");
  g.SetCellPicture(3, 2, 7);
  g.RemoveItem(2);
  EXPECT_EQ(Column(g, 0), (Strings{"", "3"}));
  EXPECT_EQ(std::tuple(g.TextMatrix(2, 1), g.CellPicture(2, 2)), std::tuple("last", 7));

  g.SetTextMatrix(0, 1, "Subject: ");
  g.Clear();
  EXPECT_EQ(g.Rows(), 3);
  for (std::int64_t r = 0; r < g.Rows(); ++r) {
    for (int c = 0; c < g.Cols(); ++c)
      EXPECT_EQ(std::tuple(g.TextMatrix(r, c), g.CellPicture(r, c)), std::tuple("", 0));
  }
  g.SetTextMatrix(0, 1, "Subject: ");
  g.SetTextMatrix(1, 1, "stale");
  g.SetRows(g.FixedRows() + 1);
  EXPECT_EQ(std::tuple(g.Rows(), g.TextMatrix(0, 1), g.TextMatrix(1, 1)), std::tuple(2, "Subject: ", ""));
}

TEST(GridDataCells, OutOfRangeReadsEmptyAndIgnoresWrites) {
  GridData g(3);
  for (auto [row, col] : {std::pair<std::int64_t, int>{-1, 0}, {2, 0}, {0, -1}, {0, 3}, {1LL << 40, 1}}) {
    g.SetTextMatrix(row, col, "x");
    g.SetCellPicture(row, col, 5);
    g.SetColWidth(col, 100);
    EXPECT_EQ(std::tuple(g.TextMatrix(row, col), g.CellPicture(row, col)), std::tuple("", 0)) << row << "," << col;
  }
  EXPECT_EQ(Column(g, 0), Strings{""});
  EXPECT_EQ(g.ColWidth(3), 0);
}

TEST(GridDataColumns, FormatStringSetsTheAlignments) {
  constexpr auto L = CellAlignment::kLeft;
  constexpr auto R = CellAlignment::kRight;
  std::pair<const char*, std::vector<CellAlignment>> cases[] = {
      {" >|< | >|< ", {R, L, R, L}}, {">", {R, L, L, L}}, {"<|>|>|>|>|>", {L, R, R, R}},
      {"  >||^|x", {R, L, L, L}},    {"", {L, L, L, L}},  {"|   >", {L, R, L, L}},
  };
  for (const auto& [format, expected] : cases) {
    GridData g(4);
    g.SetFormatString(">|>|>|>");  // what was set before does not linger
    g.SetFormatString(format);
    for (int col = 0; col < 4; ++col) EXPECT_EQ(g.ColAlignment(col), expected[col]) << format << " col " << col;
  }
}

TEST(GridDataKeys, StepsStopAtTheEdgesAndSkipHiddenColumns) {
  GridData g(6);
  g.SetRows(6);
  g.SetColWidth(3, 0);
  g.SetColWidth(5, 0);
  for (auto [row, step, expected] : {std::tuple<std::int64_t, std::int64_t, std::int64_t>{1, -1, 1}, {0, -1, 0}, {0, 1, 1},
                                     {3, 2, 5}, {3, 100, 5}, {4, -100, 1}, {5, 1, 5}, {3, 0, 3}}) {
    EXPECT_EQ(g.StepRow(row, step), expected) << row << " by " << step;
  }
  for (auto [col, step, expected] :
       {std::tuple{1, 1, 2}, {2, 1, 4}, {4, 1, 4}, {4, -1, 2}, {1, -1, 1}, {0, 1, 1}, {2, 5, 4}, {0, -1, 0}}) {
    EXPECT_EQ(g.StepCol(col, step), expected) << col << " by " << step;
  }
}

TEST(GridDataSort, ComparesNumbersAsNumbersAndTheRestAsText) {
  struct Case { const char* name; Strings keys; int setting; Strings expected; } cases[] = {
      {"9 before 10", {"10", "9", "100", "2"}, 1, {"2", "9", "10", "100"}},
      {"descending", {"10", "9", "100", "2"}, 2, {"100", "10", "9", "2"}},
      {"signs, decimals, blanks", {" 7 ", "-2", "1.5", "+3", "-10.25", "0.75", ".5"}, 1,
       {"-10.25", "-2", ".5", "0.75", "1.5", "+3", " 7 "}},
      {"longer than machine integers", {"123456789012345678901234567890", "99999999999999999999999999999", "-1"}, 1,
       {"-1", "99999999999999999999999999999", "123456789012345678901234567890"}},
      {"numbers and text mixed", {"abc", "10", "ABD", "9"}, 1, {"9", "10", "abc", "ABD"}},
      {"not numbers", {"1e3", "1,5", "", "12a", "-", "."}, 1, {"", "-", ".", "1,5", "12a", "1e3"}},
      {"ASCII case ignored, stable", {"b", "A", "a", "B"}, 1, {"A", "a", "b", "B"}},
      {"stable descending too", {"b", "A", "a", "B"}, 2, {"b", "B", "A", "a"}},
      {"equal numbers stable", {"1.10", "1.1", "01.1", "-0", "0"}, 1, {"-0", "0", "1.10", "1.1", "01.1"}},
      {"other bytes by value", {"\xE9t\xE9", "z", "\xC3\xA9t\xC3\xA9", "Z"}, 1,
       {"z", "Z", "\xC3\xA9t\xC3\xA9", "\xE9t\xE9"}},
      {"setting other than 1 or 2", {"b", "a"}, 3, {"b", "a"}},
  };
  for (const Case& c : cases) {
    std::vector<Strings> rows;
    for (const std::string& key : c.keys) rows.push_back({"", key});
    GridData g = GridWith(2, rows);
    g.SetCol(1);
    g.Sort(c.setting);
    EXPECT_EQ(Column(g, 1), c.expected) << c.name;
  }
}

TEST(GridDataSort, RowsRowToRowSelOnlyAndNeverTheHeader) {
  // Row, RowSel, expected; Row == RowSel sorts every row.
  for (auto [row, row_sel, expected] : {std::tuple{2, 4, Strings{"f", "c", "d", "e", "b"}},
                                        {4, 2, Strings{"f", "c", "d", "e", "b"}},
                                        {3, 3, Strings{"b", "c", "d", "e", "f"}},
                                        {0, 5, Strings{"b", "c", "d", "e", "f"}}}) {
    GridData g = GridWith(2, {{"", "f"}, {"", "e"}, {"", "d"}, {"", "c"}, {"", "b"}});
    g.SetTextMatrix(0, 1, "Subject: ");
    g.SetRow(row);
    g.SetCol(1);
    g.SetRowSel(row_sel);
    g.Sort(1);
    EXPECT_EQ(Column(g, 1), expected) << row << ".." << row_sel;
    EXPECT_EQ(g.TextMatrix(0, 1), "Subject: ");
  }
}

TEST(GridDataSort, KeyColumnsLeftToRightAndWholeRowsMoveWithTheirPictures) {
  for (auto [col, col_sel] : {std::pair{1, 2}, {2, 1}}) {
    GridData g =
        GridWith(4, {{"1", "b", "10", "x1"}, {"2", "a", "9", "x2"}, {"3", "b", "9", "x3"}, {"4", "a", "10", "x4"}});
    g.SetCellPicture(1, 3, 11);
    g.SetCellPicture(4, 0, 44);
    g.SetCol(col);
    g.SetColSel(col_sel);
    g.Sort(1);
    EXPECT_EQ(Column(g, 0), (Strings{"2", "4", "3", "1"}));
    EXPECT_EQ(Column(g, 3), (Strings{"x2", "x4", "x3", "x1"}));
    EXPECT_EQ(std::tuple(g.CellPicture(4, 3), g.CellPicture(2, 0), g.CellPicture(1, 3)), std::tuple(11, 44, 0));
  }
}

}  // namespace
