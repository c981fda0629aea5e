#include "window/FlexGridModel.h"

#include <QBrush>
#include <QPalette>
#include <QWidget>
#include <algorithm>
#include <climits>

#include "listing/GridData.h"

namespace {

QVariant Alignment(CellAlignment alignment) {
  return QVariant::fromValue(static_cast<int>(alignment == CellAlignment::kRight ? Qt::AlignRight | Qt::AlignVCenter
                                                                                 : Qt::AlignLeft | Qt::AlignVCenter));
}

}  // namespace

FlexGridModel::FlexGridModel(GridData& data, const QWidget* palette_source, QObject* parent)
    : QAbstractTableModel(parent), data_(data), palette_source_(palette_source), known_rows_(GridRowsAsModelRows()) {}

int FlexGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : known_rows_; }

int FlexGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : data_.Cols(); }

QVariant FlexGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const std::int64_t row = GridRow(index.row());
  const int col = index.column();
  const QPalette& palette = palette_source_->palette();
  switch (role) {
    case Qt::DisplayRole: return DecodeCellText(data_.TextMatrix(row, col));
    case Qt::TextAlignmentRole: return Alignment(data_.ColAlignment(col));
    case Qt::BackgroundRole:
      if (data_.IsSelected(row, col)) return palette.brush(QPalette::Highlight);
      if (col < data_.FixedCols()) return palette.brush(QPalette::Button);  // the number column, shaded as a header
      return {};
    case Qt::ForegroundRole:
      if (data_.IsSelected(row, col)) return palette.brush(QPalette::HighlightedText);
      if (col < data_.FixedCols()) return palette.brush(QPalette::ButtonText);
      return {};
    case Qt::ToolTipRole:
      return palette_source_->toolTip().isEmpty() ? QVariant() : QVariant(palette_source_->toolTip());
    case kPictureRole: return data_.CellPicture(row, col);
    case kCurrentCellRole: return row == data_.Row() && col == data_.Col();
    default: return {};
  }
}

QVariant FlexGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || data_.FixedRows() == 0) return {};
  const QPalette& palette = palette_source_->palette();
  switch (role) {
    case Qt::DisplayRole: return DecodeCellText(data_.TextMatrix(0, section));
    case Qt::TextAlignmentRole: return Alignment(CellAlignment::kLeft);
    // The header row takes part in the selection like any other row.
    case Qt::BackgroundRole:
      return data_.IsSelected(0, section) ? QVariant(palette.brush(QPalette::Highlight)) : QVariant();
    case Qt::ForegroundRole:
      return data_.IsSelected(0, section) ? QVariant(palette.brush(QPalette::HighlightedText)) : QVariant();
    case Qt::ToolTipRole:
      return palette_source_->toolTip().isEmpty() ? QVariant() : QVariant(palette_source_->toolTip());
    default: return {};
  }
}

Qt::ItemFlags FlexGridModel::flags(const QModelIndex& index) const {
  // Neither selectable nor editable through the view: the selection is
  // GridData's and edits go through the form's own edit box.
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

int FlexGridModel::ModelRow(std::int64_t grid_row) const {
  if (grid_row < data_.FixedRows()) return -1;
  return static_cast<int>(std::min<std::int64_t>(grid_row - data_.FixedRows(), INT_MAX));
}

std::int64_t FlexGridModel::GridRow(int model_row) const { return model_row + data_.FixedRows(); }

int FlexGridModel::GridRowsAsModelRows() const {
  return static_cast<int>(std::clamp<std::int64_t>(data_.Rows() - data_.FixedRows(), 0, INT_MAX));
}

FlexGridModel::Selection FlexGridModel::CurrentSelection() const {
  return {data_.Row(), data_.RowSel(), data_.Col(), data_.ColSel()};
}

void FlexGridModel::SelectionChanged(const Selection& before) {
  const Selection now = CurrentSelection();
  if (now == before) return;
  const std::int64_t top = std::min({before.row, before.row_sel, now.row, now.row_sel});
  const std::int64_t bottom = std::max({before.row, before.row_sel, now.row, now.row_sel});
  const int left = std::min({before.col, before.col_sel, now.col, now.col_sel});
  const int right = std::max({before.col, before.col_sel, now.col, now.col_sel});
  if (top == 0 && data_.FixedRows() > 0) emit headerDataChanged(Qt::Horizontal, left, right);
  const int first = ModelRow(std::max(top, data_.FixedRows()));
  const int last = std::min(ModelRow(bottom), known_rows_ - 1);
  if (first >= 0 && first <= last) {
    // One rectangle: the view repaints a range of more than one cell as a whole, cheaply.
    emit dataChanged(index(first, left), index(last, right),
                     {Qt::BackgroundRole, Qt::ForegroundRole, kCurrentCellRole});
  }
}

void FlexGridModel::CellChanged(std::int64_t row, int col) {
  if (col < 0 || col >= data_.Cols()) return;
  if (row == 0 && data_.FixedRows() > 0) {
    emit headerDataChanged(Qt::Horizontal, col, col);
    return;
  }
  const int model_row = ModelRow(row);
  if (model_row >= 0 && model_row < known_rows_) emit dataChanged(index(model_row, col), index(model_row, col));
}

void FlexGridModel::AllCellsChanged() {
  emit headerDataChanged(Qt::Horizontal, 0, data_.Cols() - 1);
  if (known_rows_ > 0) emit dataChanged(index(0, 0), index(known_rows_ - 1, data_.Cols() - 1));
}

void FlexGridModel::SyncRows() {
  const int rows = GridRowsAsModelRows();
  if (rows > known_rows_) {
    beginInsertRows(QModelIndex(), known_rows_, rows - 1);
    known_rows_ = rows;
    endInsertRows();
  } else if (rows < known_rows_) {
    Reset();  // rows went away on GridData directly: nothing narrower is known
  }
}

void FlexGridModel::RemoveRow(std::int64_t row) {
  SyncRows();
  if (row < data_.FixedRows() || row >= data_.Rows()) return;
  const int model_row = ModelRow(row);
  beginRemoveRows(QModelIndex(), model_row, model_row);
  data_.RemoveItem(row);
  known_rows_ = GridRowsAsModelRows();
  endRemoveRows();
}

void FlexGridModel::SetRows(std::int64_t rows) {
  SyncRows();
  const std::int64_t kept = std::max(rows, data_.FixedRows());  // GridData never drops its fixed rows
  if (kept >= data_.Rows()) {
    data_.SetRows(rows);
    SyncRows();
  } else {
    beginRemoveRows(QModelIndex(), ModelRow(kept), known_rows_ - 1);
    data_.SetRows(rows);
    known_rows_ = GridRowsAsModelRows();
    endRemoveRows();
  }
  AllCellsChanged();  // a grid started over keeps its first row, emptied
}

void FlexGridModel::Reset() {
  beginResetModel();
  known_rows_ = GridRowsAsModelRows();
  endResetModel();
}
