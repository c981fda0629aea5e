// The viewer's grid control: a QTableView over GridData through a table
// model of plain rows (no item object per cell), holding 100 000 rows with
// ease. Row 0 (the fixed header row) is drawn as the view's header, column 0
// (the fixed number column) as a shaded first column. Selection and current
// cell are GridData's, drawn by the model; the mouse and keys go through the
// grid's own events, with positions in twips relative to the grid.
#pragma once

#include <QIcon>
#include <QTableView>
#include <cstdint>
#include <map>
#include <string>

#include "window/FlexGridModel.h"
#include "listing/GridData.h"

class QMouseEvent;

class MSFlexGrid : public QTableView {
  Q_OBJECT

 public:
  explicit MSFlexGrid(int cols, QWidget* parent = nullptr);
  ~MSFlexGrid() override;

  GridData& Data() { return data_; }
  const GridData& Data() const { return data_; }

  // Twips per pixel of the screen the grid is on (15 at 96 dpi).
  double TwipsPerPixelX() const;
  double TwipsPerPixelY() const;

  // The contract the viewer is written against. Every change of the data
  // made through these is shown; changes made on Data() directly need
  // Refresh() (or SyncRows() when only rows were appended).
  std::int64_t Rows() const { return data_.Rows(); }
  void SetRows(std::int64_t rows);
  int Cols() const { return data_.Cols(); }
  std::int64_t FixedRows() const { return data_.FixedRows(); }
  int FixedCols() const { return data_.FixedCols(); }
  std::string TextMatrix(std::int64_t row, int col) const { return data_.TextMatrix(row, col); }
  void SetTextMatrix(std::int64_t row, int col, const std::string& text);
  void AddItem(const std::string& text);
  void RemoveItem(std::int64_t row);
  void Clear();
  void SetColWidth(int col, int twips);
  int ColWidth(int col) const { return data_.ColWidth(col); }
  void SetFormatString(const std::string& format);
  double FontSize() const;  // points

  std::int64_t Row() const { return data_.Row(); }
  int Col() const { return data_.Col(); }
  std::int64_t RowSel() const { return data_.RowSel(); }
  int ColSel() const { return data_.ColSel(); }
  void SetRow(std::int64_t row);
  void SetCol(int col);
  void SetRowSel(std::int64_t row);
  void SetColSel(int col);
  void Sort(int setting);

  // The cell under the mouse pointer at the last mouse event.
  std::int64_t MouseRow() const { return mouse_row_; }
  int MouseCol() const { return mouse_col_; }

  // The current cell's rectangle in twips, relative to the grid.
  int CellLeft() const;
  int CellTop() const;
  int CellWidth() const;
  int CellHeight() const;

  void SetToolTipText(const QString& text) { setToolTip(text); }

  // Pictures by id (GridData stores the id per cell); alignment 7 is the
  // right edge, vertically centred, the only one the viewer uses.
  void RegisterPicture(int id, const QIcon& icon);
  int CellPicture() const { return data_.CellPicture(Row(), Col()); }
  void SetCellPicture(int id);

  // Shows rows appended to Data() since the last call, in one batch: a
  // load of many rows notifies the view a few times, not once per row.
  void SyncRows();
  // Shows every change made to Data() directly.
  void Refresh();

 signals:
  // Button: 1 left, 2 right, 4 middle; shift: 1 Shift, 2 Ctrl, 4 Alt.
  void MouseDown(int button, int shift, double x, double y);
  void MouseUp(int button, int shift, double x, double y);
  void MouseMove(int button, int shift, double x, double y);
  void KeyUp(int key_code, int shift);  // key codes as the system's virtual keys (46 Delete)
  void DblClick();
  void SelChange();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  struct CellPos {
    std::int64_t row;
    int col;
  };
  // The cell under `grid_pos` (pixels relative to the grid): row 0 over the
  // header, -1 for a row or column outside the cells; with `nearest`, the
  // closest cell instead, one beyond the visible ones when outside the
  // cells' area (a drag there scrolls).
  CellPos CellAt(QPointF grid_pos, bool nearest) const;
  bool OnHeaderGrip(QPoint header_pos) const;
  void HandleMouse(QWidget* source, QMouseEvent* event);
  void UserChangedSelection(const FlexGridModel::Selection& before);
  void ScrollToCell(std::int64_t row, int col);
  QRect CurrentCellRect() const;  // pixels relative to the grid
  int ColPixels(int twips) const;
  void ShowColWidth(int col);

  GridData data_;
  FlexGridModel* model_;
  std::map<int, QIcon> pictures_;
  std::int64_t mouse_row_ = 0;
  int mouse_col_ = 0;
  bool drag_selecting_ = false;  // a left press on a cell, until its release
};
