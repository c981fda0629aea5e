// The table model MSFlexGrid shows GridData through. Row 0 of the grid is the
// horizontal header, model row r is grid row r + FixedRows. Cells are read
// from GridData when painted (no item object per cell); the bytes are shown
// as UTF-8 when they are valid UTF-8, else as Windows-1252. GridData's
// selection is drawn through the background and foreground roles in the
// highlight colours of the grid's palette.
//
// The model keeps the row count the view knows: rows appended to GridData
// reach the view only at SyncRows(), all of them in one insertion.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <string>

#include "listing/CellText.h"

class GridData;
class QWidget;


class FlexGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Role {
    kPictureRole = Qt::UserRole + 1,  // int: the cell's picture id, 0 none
    kCurrentCellRole,                 // bool: the cell is GridData's current cell
  };

  // The corners of GridData's selection, to repaint what a change touched.
  struct Selection {
    std::int64_t row, row_sel;
    int col, col_sel;
    bool operator==(const Selection&) const = default;
  };

  // `palette_source` gives the colours (the grid) and the tool tip shown
  // over every cell.
  FlexGridModel(GridData& data, const QWidget* palette_source, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Grid rows as model rows and back; the header row has no model row (-1).
  int ModelRow(std::int64_t grid_row) const;
  std::int64_t GridRow(int model_row) const;

  Selection CurrentSelection() const;
  // Repaints the cells and header sections inside `before` or the current
  // selection, when the two differ.
  void SelectionChanged(const Selection& before);
  // One cell's text or picture changed (row 0: a header section).
  void CellChanged(std::int64_t row, int col);
  // Something every cell shows changed (alignments).
  void AllCellsChanged();

  // Row changes that keep the view's row count in step, one notification each.
  void SyncRows();
  void RemoveRow(std::int64_t row);
  void SetRows(std::int64_t rows);
  void Reset();

 private:
  int GridRowsAsModelRows() const;

  GridData& data_;
  const QWidget* palette_source_;
  int known_rows_ = 0;  // the rows the view has been told about
};
