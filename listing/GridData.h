// The message grid's content and selection as plain data, without widgets:
// a table of text cells (byte strings) with one fixed header row and one
// fixed number column, the current cell and the far corner of the selection,
// column widths and alignments, cell pictures, and the generic sort. The
// widget MSFlexGrid shows it; tests drive it directly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class CellAlignment { kLeft, kRight };

class GridData {
 public:
  explicit GridData(int cols = 2, std::int64_t fixed_rows = 1, int fixed_cols = 1);

  std::int64_t Rows() const { return static_cast<std::int64_t>(cells_.size()); }
  // Grows with empty rows or drops rows from the end; the selection is
  // clamped into the new size. FixedRows() + 1 starts the grid over: the
  // fixed rows and one empty row. Never fewer than the fixed rows.
  void SetRows(std::int64_t rows);
  int Cols() const { return cols_; }
  std::int64_t FixedRows() const { return fixed_rows_; }
  int FixedCols() const { return fixed_cols_; }

  // Out-of-range cells read as empty and ignore writes.
  const std::string& TextMatrix(std::int64_t row, int col) const;
  void SetTextMatrix(std::int64_t row, int col, std::string text);

  // A cell may hold a second form of its text besides the one it shows (a
  // header text decoded and raw): SetTextForms shows `shown` and keeps
  // `other`; SwapTextForms makes every cell that has two forms show the
  // other one. Sorting and TextMatrix see the form shown. A cell written
  // with SetTextMatrix (an edit) has one form again.
  void SetTextForms(std::int64_t row, int col, std::string shown, std::string other);
  bool HasOtherForm(std::int64_t row, int col) const;
  void SwapTextForms();

  // Appends a row whose column 0 holds `text`.
  void AddItem(std::string text);
  // Deletes `row`; the rows below move up by one. Fixed rows stay.
  void RemoveItem(std::int64_t row);
  // Empties the text (and picture) of every cell; rows stay.
  void Clear();

  void SetColWidth(int col, int twips);
  int ColWidth(int col) const;
  // One segment per column separated by "|": ">" right, "<" left (e.g.
  // " >|< | >"); leading blanks are ignored.
  void SetFormatString(const std::string& format);
  CellAlignment ColAlignment(int col) const;

  // The current cell; writing Row or Col collapses the selection to the
  // current cell (RowSel = Row, ColSel = Col).
  std::int64_t Row() const { return row_; }
  int Col() const { return col_; }
  std::int64_t RowSel() const { return row_sel_; }
  int ColSel() const { return col_sel_; }
  void SetRow(std::int64_t row);
  void SetCol(int col);
  void SetRowSel(std::int64_t row);
  void SetColSel(int col);
  bool IsSelected(std::int64_t row, int col) const;

  // Where the keyboard takes the current cell (or the selection's far
  // corner): `step` rows from `row`, stopping at the first or last non-fixed
  // row; `step` shown columns from `col`, skipping hidden ones (width 0) and
  // stopping at the first or last shown non-fixed column. A step never moves
  // against its direction (Up on the header row stays there).
  std::int64_t StepRow(std::int64_t row, std::int64_t step) const;
  int StepCol(int col, int step) const;

  // Sorts rows Row..RowSel (all non-fixed rows when Row equals RowSel) by
  // the columns Col..ColSel, 1 ascending, 2 descending: two cells compare as
  // numbers when both texts are numbers, otherwise as text. Whole rows move.
  void Sort(int setting);

  // Picture of a cell: 0 none, otherwise an id the widget maps to an image.
  int CellPicture(std::int64_t row, int col) const;
  void SetCellPicture(std::int64_t row, int col, int picture);

 private:
  struct Cell {
    std::string text;
    int picture = 0;
    std::unique_ptr<std::string> other;  // the form not shown; only the few cells that have one pay for it
  };
  Cell* At(std::int64_t row, int col);
  std::vector<std::vector<Cell>> cells_;
  int cols_;
  std::int64_t fixed_rows_;
  int fixed_cols_;
  std::vector<int> widths_;
  std::vector<CellAlignment> alignments_;
  std::int64_t row_ = 0, row_sel_ = 0;
  int col_ = 0, col_sel_ = 0;
};
