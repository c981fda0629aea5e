#include "window/MSFlexGrid.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {

constexpr double kFontPoints = 8.25;

QFont GridFont() {
  QFont font = QFontDatabase::families().contains(QStringLiteral("Courier New"))
                   ? QFont(QStringLiteral("Courier New"))
                   : QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(kFontPoints);
  return font;
}

// Paints a cell as the model describes it, then its picture at the right
// edge, vertically centred over the text, and a dotted frame round the
// current cell. The view's own selection and focus are never drawn: the
// selection is GridData's, in the model's colours.
class CellDelegate : public QStyledItemDelegate {
 public:
  CellDelegate(const std::map<int, QIcon>& pictures, QObject* parent)
      : QStyledItemDelegate(parent), pictures_(pictures) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem plain = option;
    plain.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    QStyledItemDelegate::paint(painter, plain, index);

    if (int id = index.data(FlexGridModel::kPictureRole).toInt(); id != 0) {
      auto found = pictures_.find(id);
      if (found != pictures_.end()) {
        found->second.paint(painter, option.rect.adjusted(1, 1, -1, -1), Qt::AlignRight | Qt::AlignVCenter);
      }
    }
    if (index.data(FlexGridModel::kCurrentCellRole).toBool()) {
      QVariant foreground = index.data(Qt::ForegroundRole);
      QColor colour = foreground.isValid() ? foreground.value<QBrush>().color() : option.palette.color(QPalette::Text);
      painter->save();
      painter->setPen(QPen(colour, 1, Qt::DotLine));
      painter->setBrush(Qt::NoBrush);
      painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
      painter->restore();
    }
  }

 private:
  const std::map<int, QIcon>& pictures_;
};

int ButtonMask(Qt::MouseButtons buttons) {
  return (buttons.testFlag(Qt::LeftButton) ? 1 : 0) | (buttons.testFlag(Qt::RightButton) ? 2 : 0) |
         (buttons.testFlag(Qt::MiddleButton) ? 4 : 0);
}

int ShiftMask(Qt::KeyboardModifiers modifiers) {
  return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) | (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) |
         (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

// The key codes the form's handlers test, as the remailer's operators'
// system numbers them; 0 for keys without one.
int VirtualKey(int key) {
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) return key;  // same codes
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Pause: return 19;
    case Qt::Key_CapsLock: return 20;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Menu: return 93;
    default: return 0;
  }
}

}  // namespace

MSFlexGrid::MSFlexGrid(int cols, QWidget* parent)
    : QTableView(parent), data_(cols), model_(new FlexGridModel(data_, this, this)) {
  setFont(GridFont());
  setModel(model_);
  setItemDelegate(new CellDelegate(pictures_, this));
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(false);
  setWordWrap(false);

  // One fixed height for every row: the view lays out 100 000 rows without
  // measuring any of them.
  const int row_height = QFontMetrics(font()).height() + 4;
  QHeaderView* rows = verticalHeader();
  rows->hide();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(row_height);
  rows->setDefaultSectionSize(row_height);

  // The header only resizes columns; presses on it select through the event filter.
  QHeaderView* header = horizontalHeader();
  header->setSectionsClickable(false);
  header->setHighlightSections(false);
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(4);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  connect(header, &QHeaderView::sectionResized, this, [this](int col, int, int pixels) {
    // A width GridData already gives (set by code, or a column hidden or
    // shown again) is not written back, so the twips the code set stay exact.
    if (pixels != ColPixels(data_.ColWidth(col))) data_.SetColWidth(col, qRound(pixels * TwipsPerPixelX()));
  });

  for (QWidget* surface : {viewport(), header->viewport()}) {
    surface->setMouseTracking(true);
    surface->installEventFilter(this);
  }
  for (int col = 0; col < data_.Cols(); ++col) ShowColWidth(col);
}

MSFlexGrid::~MSFlexGrid() = default;

double MSFlexGrid::TwipsPerPixelX() const { return 1440.0 / logicalDpiX(); }
double MSFlexGrid::TwipsPerPixelY() const { return 1440.0 / logicalDpiY(); }

void MSFlexGrid::SetRows(std::int64_t rows) {
  const FlexGridModel::Selection before = model_->CurrentSelection();
  model_->SetRows(rows);
  model_->SelectionChanged(before);
}

void MSFlexGrid::SetTextMatrix(std::int64_t row, int col, const std::string& text) {
  data_.SetTextMatrix(row, col, text);
  model_->CellChanged(row, col);
}

void MSFlexGrid::AddItem(const std::string& text) {
  data_.AddItem(text);
  model_->SyncRows();
}

void MSFlexGrid::RemoveItem(std::int64_t row) {
  const FlexGridModel::Selection before = model_->CurrentSelection();
  model_->RemoveRow(row);
  model_->SelectionChanged(before);
}

void MSFlexGrid::Clear() {
  data_.Clear();
  Refresh();
}

void MSFlexGrid::SetColWidth(int col, int twips) {
  data_.SetColWidth(col, twips);
  if (col >= 0 && col < data_.Cols()) ShowColWidth(col);
}

void MSFlexGrid::SetFormatString(const std::string& format) {
  data_.SetFormatString(format);
  model_->AllCellsChanged();
}

double MSFlexGrid::FontSize() const { return font().pointSizeF(); }

void MSFlexGrid::SetRow(std::int64_t row) {
  const FlexGridModel::Selection before = model_->CurrentSelection();
  data_.SetRow(row);
  model_->SelectionChanged(before);
}

void MSFlexGrid::SetCol(int col) {
  const FlexGridModel::Selection before = model_->CurrentSelection();
  data_.SetCol(col);
  model_->SelectionChanged(before);
}

void MSFlexGrid::SetRowSel(std::int64_t row) {
  const FlexGridModel::Selection before = model_->CurrentSelection();
  data_.SetRowSel(row);
  model_->SelectionChanged(before);
}

void MSFlexGrid::SetColSel(int col) {
  const FlexGridModel::Selection before = model_->CurrentSelection();
  data_.SetColSel(col);
  model_->SelectionChanged(before);
}

void MSFlexGrid::Sort(int setting) {
  data_.Sort(setting);
  Refresh();
}

int MSFlexGrid::CellLeft() const { return qRound(CurrentCellRect().x() * TwipsPerPixelX()); }
int MSFlexGrid::CellTop() const { return qRound(CurrentCellRect().y() * TwipsPerPixelY()); }
int MSFlexGrid::CellWidth() const { return qRound(CurrentCellRect().width() * TwipsPerPixelX()); }
int MSFlexGrid::CellHeight() const { return qRound(CurrentCellRect().height() * TwipsPerPixelY()); }

QRect MSFlexGrid::CurrentCellRect() const {
  const int col = Col();
  const int x = viewport()->x() + columnViewportPosition(col);
  const int width = isColumnHidden(col) ? 0 : columnWidth(col);
  const int model_row = model_->ModelRow(Row());
  if (model_row < 0) {
    const QHeaderView* header = horizontalHeader();
    return QRect(x, header->y(), width, header->height());
  }
  // Every row has the same height, so rows the view has not been told about
  // yet are placed by the same rule.
  const int height = verticalHeader()->defaultSectionSize();
  return QRect(x, viewport()->y() + model_row * height - verticalOffset(), width, height);
}

void MSFlexGrid::RegisterPicture(int id, const QIcon& icon) {
  pictures_[id] = icon;
  viewport()->update();
}

void MSFlexGrid::SetCellPicture(int id) {
  data_.SetCellPicture(Row(), Col(), id);
  model_->CellChanged(Row(), Col());
}

void MSFlexGrid::SyncRows() {
  // Rows go on at the end. Once the rows the view shows reach the bottom of
  // the viewport, the appended ones are out of sight: the view takes them in
  // (the scroll bar) without repainting every visible cell, which a long
  // load would otherwise pay for at each of its repaints. A layout still
  // pending from an earlier change is done first, with its repaint.
  executeDelayedItemsLayout();
  const int bottom = viewport()->height() - 1;
  const bool out_of_sight = isVisible() && viewport()->updatesEnabled() && bottom >= 0 && rowAt(bottom) >= 0 &&
                            data_.Rows() - data_.FixedRows() > model_->rowCount();
  model_->SyncRows();
  if (!out_of_sight) return;
  viewport()->setAttribute(Qt::WA_UpdatesDisabled, true);
  executeDelayedItemsLayout();
  viewport()->setAttribute(Qt::WA_UpdatesDisabled, false);
}

void MSFlexGrid::Refresh() {
  model_->Reset();
  for (int col = 0; col < data_.Cols(); ++col) ShowColWidth(col);
}

int MSFlexGrid::ColPixels(int twips) const { return twips == 0 ? 0 : std::max(1, qRound(twips / TwipsPerPixelX())); }

void MSFlexGrid::ShowColWidth(int col) {
  const int pixels = ColPixels(data_.ColWidth(col));
  if (pixels == 0) {
    setColumnHidden(col, true);
    return;
  }
  // A hidden section only records its new size; showing it then uses it.
  setColumnWidth(col, pixels);
  setColumnHidden(col, false);
}

MSFlexGrid::CellPos MSFlexGrid::CellAt(QPointF grid_pos, bool nearest) const {
  const QPoint at = viewport()->mapFrom(this, grid_pos.toPoint());
  const QHeaderView* header = horizontalHeader();
  const int model_rows = model_->rowCount();
  CellPos cell{-1, -1};

  if (at.y() < 0) {
    const int header_y = header->mapFrom(this, grid_pos.toPoint()).y();
    const bool over_header = header->isVisible() && header_y >= 0 && header_y < header->height();
    if (nearest && Row() >= FixedRows() && rowAt(0) > 0) {
      cell.row = model_->GridRow(rowAt(0) - 1);  // a drag from the cells up past them scrolls up
    } else if (over_header || nearest) {
      cell.row = 0;
    }
  } else if (int row = at.y() < viewport()->height() ? rowAt(at.y()) : -1; row >= 0) {
    // (rowAt and columnAt also answer for rows and columns scrolled out of sight)
    cell.row = model_->GridRow(row);
  } else if (nearest) {
    const int bottom = rowAt(viewport()->height() - 1);
    if (model_rows == 0) {
      cell.row = 0;
    } else if (at.y() >= viewport()->height() && bottom >= 0) {
      cell.row = model_->GridRow(std::min(bottom + 1, model_rows - 1));  // below the cells: scrolls down
    } else {
      cell.row = model_->GridRow(model_rows - 1);  // in the empty space under the last row
    }
  }

  // The first shown column at or beyond a visual position, -1 if none.
  auto shown_from = [header](int visual, int direction) {
    for (; visual >= 0 && visual < header->count(); visual += direction) {
      if (!header->isSectionHidden(header->logicalIndex(visual))) return header->logicalIndex(visual);
    }
    return -1;
  };
  if (int col = at.x() >= 0 && at.x() < viewport()->width() ? columnAt(at.x()) : -1; col >= 0) {
    cell.col = col;
  } else if (nearest) {
    if (at.x() < 0) {
      const int left = columnAt(0);
      const int before = left >= 0 ? shown_from(header->visualIndex(left) - 1, -1) : -1;
      cell.col = before >= 0 ? before : (left >= 0 ? left : shown_from(0, 1));
    } else if (at.x() >= viewport()->width() && columnAt(viewport()->width() - 1) >= 0) {
      const int right = columnAt(viewport()->width() - 1);
      const int after = shown_from(header->visualIndex(right) + 1, 1);
      cell.col = after >= 0 ? after : right;
    } else {
      cell.col = shown_from(header->count() - 1, -1);  // past the last column
    }
  }
  return cell;
}

bool MSFlexGrid::OnHeaderGrip(QPoint header_pos) const {
  // The header resizes a section from this margin on either side of a
  // section border; a press there is a resize, not a selection.
  const QHeaderView* header = horizontalHeader();
  const int visual = header->visualIndexAt(header_pos.x());
  if (visual < 0) return false;
  const int col = header->logicalIndex(visual);
  const int grip = header->style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, header);
  const int start = header->sectionViewportPosition(col);
  if (header_pos.x() > start + header->sectionSize(col) - grip) return true;
  if (header_pos.x() < start + grip) {
    for (int left = visual - 1; left >= 0; --left) {
      if (!header->isSectionHidden(header->logicalIndex(left))) return true;
    }
  }
  return false;
}

bool MSFlexGrid::eventFilter(QObject* watched, QEvent* event) {
  const bool on_cells = watched == viewport();
  const bool on_header = watched == horizontalHeader()->viewport();
  if (on_cells || on_header) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
        HandleMouse(static_cast<QWidget*>(watched), static_cast<QMouseEvent*>(event));
        // The view's own mouse handling (its selection and current index)
        // is replaced; the header still resizes its sections.
        return on_cells;
      default: break;
    }
  }
  return QTableView::eventFilter(watched, event);
}

void MSFlexGrid::HandleMouse(QWidget* source, QMouseEvent* event) {
  const QPointF grid_pos = source->mapTo(this, event->position());
  const CellPos under = CellAt(grid_pos, false);
  mouse_row_ = under.row;
  mouse_col_ = under.col;
  const int shift = ShiftMask(event->modifiers());
  const double x = grid_pos.x() * TwipsPerPixelX();
  const double y = grid_pos.y() * TwipsPerPixelY();
  const FlexGridModel::Selection before = model_->CurrentSelection();

  switch (event->type()) {
    case QEvent::MouseButtonPress:
      if (event->button() == Qt::LeftButton) {
        const bool on_grip = source != viewport() && OnHeaderGrip(event->position().toPoint());
        drag_selecting_ = under.row >= 0 && under.col >= 0 && !on_grip;
        if (drag_selecting_ && (shift & 1)) {
          data_.SetRowSel(under.row);
          data_.SetColSel(under.col);
        } else if (drag_selecting_) {
          data_.SetRow(under.row);
          data_.SetCol(under.col);
        }
        UserChangedSelection(before);
      }
      emit MouseDown(ButtonMask(event->button()), shift, x, y);
      break;
    case QEvent::MouseMove:
      if (drag_selecting_ && event->buttons().testFlag(Qt::LeftButton)) {
        const CellPos to = CellAt(grid_pos, true);
        if (to.row >= 0 && to.col >= 0) {
          data_.SetRowSel(to.row);
          data_.SetColSel(to.col);
          if (!viewport()->rect().contains(viewport()->mapFrom(this, grid_pos.toPoint()))) {
            ScrollToCell(to.row, to.col);
          }
          UserChangedSelection(before);
        }
      }
      emit MouseMove(ButtonMask(event->buttons()), shift, x, y);
      break;
    case QEvent::MouseButtonRelease:
      if (event->button() == Qt::LeftButton) drag_selecting_ = false;
      emit MouseUp(ButtonMask(event->button()), shift, x, y);
      break;
    case QEvent::MouseButtonDblClick: emit DblClick(); break;
    default: break;
  }
}

void MSFlexGrid::UserChangedSelection(const FlexGridModel::Selection& before) {
  model_->SelectionChanged(before);
  if (!(model_->CurrentSelection() == before)) emit SelChange();
}

void MSFlexGrid::ScrollToCell(std::int64_t row, int col) {
  const int model_rows = model_->rowCount();
  if (model_rows == 0 || col < 0) return;
  int model_row = model_->ModelRow(row);
  if (model_row < 0) model_row = std::max(rowAt(0), 0);  // the header row: sideways only
  scrollTo(model_->index(std::min(model_row, model_rows - 1), col));
}

void MSFlexGrid::keyPressEvent(QKeyEvent* event) {
  const int row_height = std::max(1, verticalHeader()->defaultSectionSize());
  const std::int64_t page = std::max(1, viewport()->height() / row_height);
  std::int64_t row_step = 0;
  int col_step = 0;
  switch (event->key()) {
    case Qt::Key_Up: row_step = -1; break;
    case Qt::Key_Down: row_step = 1; break;
    case Qt::Key_Left: col_step = -1; break;
    case Qt::Key_Right: col_step = 1; break;
    case Qt::Key_PageUp: row_step = -page; break;
    case Qt::Key_PageDown: row_step = page; break;
    case Qt::Key_Home: row_step = -data_.Rows(); break;
    case Qt::Key_End: row_step = data_.Rows(); break;
    default:
      // Every other key (Ctrl+A among them) is the form's.
      event->ignore();
      return;
  }
  event->accept();
  const FlexGridModel::Selection before = model_->CurrentSelection();
  if (event->modifiers().testFlag(Qt::ShiftModifier)) {
    data_.SetRowSel(data_.StepRow(RowSel(), row_step));
    data_.SetColSel(data_.StepCol(ColSel(), col_step));
    ScrollToCell(RowSel(), ColSel());
  } else {
    const std::int64_t row = data_.StepRow(Row(), row_step);
    const int col = data_.StepCol(Col(), col_step);
    data_.SetRow(row);
    data_.SetCol(col);
    ScrollToCell(Row(), Col());
  }
  UserChangedSelection(before);
}

void MSFlexGrid::keyReleaseEvent(QKeyEvent* event) {
  // A held key repeats its press only; the release comes once.
  if (!event->isAutoRepeat()) {
    if (int key_code = VirtualKey(event->key()); key_code != 0) emit KeyUp(key_code, ShiftMask(event->modifiers()));
  }
  QTableView::keyReleaseEvent(event);
}
