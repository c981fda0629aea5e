// The window's work on the grid: the mouse, key and double-click events, the
// header sorts and their marks, "Select All", in-place editing of a cell, the
// message actions and the navigation cross.
#include <QAction>
#include <QCursor>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "platform/Text.h"
#include "shared/Module_Messages.h"
#include "shared/Module_MySafeRename.h"
#include "shared/Module_SalvageTag.h"
#include "window/FlexGridModel.h"
#include "window/MSFlexGrid.h"
#include "window/frm_Qvue.h"

namespace {

constexpr int kLeftButton = 1;
constexpr int kDeleteKey = 46;
constexpr int kFileNameColumn = 1;
constexpr int kClassificationColumn = 3;

// The file name in row r, or empty when the cell holds no plain name (the
// operator may edit it): a name with a separator, ".", ".." or a NUL byte
// would address something other than a file of the listed folder.
std::string FileNameCell(const MSFlexGrid* grid, std::int64_t r) {
  std::string name = grid->TextMatrix(r, kFileNameColumn);
  bool plain = name != "." && name != ".." && name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
  return plain ? name : std::string();
}

void MoveRowMessage(const MSFlexGrid* grid, std::int64_t r, const std::string& from, const std::string& to) {
  std::string name = FileNameCell(grid, r);
  if (!name.empty()) SafeRenameMessage(from, to, name);
}

}  // namespace

void frm_Qvue::ConnectGridHandlers() {
  MSFlexGrid* grid = MSFlexGrid1;
  connect(grid, &MSFlexGrid::MouseDown, this, [this](int b, int s, double x, double y) { MSFlexGrid1_MouseDown(b, s, x, y); });
  connect(grid, &MSFlexGrid::MouseUp, this, [this](int b, int s, double x, double y) { MSFlexGrid1_MouseUp(b, s, x, y); });
  connect(grid, &MSFlexGrid::MouseMove, this, [this](int b, int s, double x, double y) { MSFlexGrid1_MouseMove(b, s, x, y); });
  connect(grid, &MSFlexGrid::KeyUp, this, [this](int key, int shift) { MSFlexGrid1_KeyUp(key, shift); });
  connect(grid, &MSFlexGrid::DblClick, this, [this] { MSFlexGrid1_DblClick(); });
  connect(grid, &MSFlexGrid::SelChange, this, [this] { MSFlexGrid1_SelChange(); });

  connect(MnuPOPHSortX, &QAction::triggered, this, [this] { MnuPOPHSortX_Click(); });
  connect(MnuPOPHSortA, &QAction::triggered, this, [this] { MnuPOPHSortA_Click(); });
  connect(MnuPOPHSortD, &QAction::triggered, this, [this] { MnuPOPHSortD_Click(); });
  connect(MnuPOPBSelectAll, &QAction::triggered, this, [this] { MnuPOPBSelectAll_Click(); });

  const std::pair<QAction*, void (frm_Qvue::*)()> items[] = {
      {MnuPOPBDelete, &frm_Qvue::MnuPOPBDelete_Click},   {MnuPOPBFlag, &frm_Qvue::MnuPOPBFlag_Click},
      {MnuPOPBUnFlag, &frm_Qvue::MnuPOPBUnFlag_Click},   {MnuPOPBMagic1, &frm_Qvue::MnuPOPBMagic1_Click},
      {MnuPOPBMagic2, &frm_Qvue::MnuPOPBMagic2_Click},   {MnuPOPBErrore, &frm_Qvue::MnuPOPBErrore_Click},
      {MnuPOPBHold, &frm_Qvue::MnuPOPBHold_Click},       {MnuPOPBRelease, &frm_Qvue::MnuPOPBRelease_Click},
      {MnuPOPBSalvage, &frm_Qvue::MnuPOPBSalvage_Click},
  };
  for (const auto& [action, handler] : items) connect(action, &QAction::triggered, this, handler);

  const std::pair<QPushButton*, void (frm_Qvue::*)()> buttons[] = {
      {cmd_DELETE, &frm_Qvue::cmd_DELETE_Click},   {cmd_FLAG, &frm_Qvue::cmd_FLAG_Click},
      {cmd_UNFLAG, &frm_Qvue::cmd_UNFLAG_Click},   {cmd_MAGIC1, &frm_Qvue::cmd_MAGIC1_Click},
      {cmd_MAGIC2, &frm_Qvue::cmd_MAGIC2_Click},   {cmd_ERRORE, &frm_Qvue::cmd_ERRORE_Click},
      {cmd_HOLD, &frm_Qvue::cmd_HOLD_Click},       {cmd_RELEASE, &frm_Qvue::cmd_RELEASE_Click},
      {cmd_SALVAGE, &frm_Qvue::cmd_SALVAGE_Click}, {cmd_UP, &frm_Qvue::cmd_UP_Click},
      {cmd_DN, &frm_Qvue::cmd_DN_Click},           {cmd_LT, &frm_Qvue::cmd_LT_Click},
      {cmd_RT, &frm_Qvue::cmd_RT_Click},           {cmd_HO, &frm_Qvue::cmd_HO_Click},
  };
  for (const auto& [button, handler] : buttons) connect(button, &QPushButton::clicked, this, handler);
}

// ---- Mouse, keys, sorting, selection

void frm_Qvue::MSFlexGrid1_MouseDown(int Button, int, double, double) {
  MSFlexGrid* grid = MSFlexGrid1;
  if (grid->MouseRow() != 0) {
    if (Button != kLeftButton) {
      SelectRowUnderPointer();
      MnuPOPB->popup(QCursor::pos());
    }
    return;
  }
  if (grid->MouseCol() < 0) return;  // beside the last column: no header there
  grid->SetRow(0);
  grid->SetCol(grid->MouseCol());
  if (Button == kLeftButton) {
    MnuPOPHSortX_Click();
  } else {
    MnuPOPH->popup(QCursor::pos());
  }
}

void frm_Qvue::SelectRowUnderPointer() {
  // As in a file manager: the menu acts on the row pointed at. A row inside
  // the selected block keeps the block.
  MSFlexGrid* grid = MSFlexGrid1;
  std::int64_t r = grid->MouseRow();
  if (r < grid->FixedRows()) return;  // below the last row: nothing pointed at
  if (r >= std::min(grid->Row(), grid->RowSel()) && r <= std::max(grid->Row(), grid->RowSel())) return;
  grid->SetRow(r);  // collapses the selection to the current cell; the column stays
  UpdateSelectionCounts();
}

void frm_Qvue::MSFlexGrid1_MouseUp(int, int, double, double) {
  MSFlexGrid* grid = MSFlexGrid1;
  if (grid->MouseRow() == 0) grid->SetRow(0);
  if (grid->MouseCol() == 0) grid->SetCol(0);
}

void frm_Qvue::MSFlexGrid1_MouseMove(int, int, double, double) {
  MSFlexGrid* grid = MSFlexGrid1;
  std::int64_t r = grid->MouseRow();
  int c = grid->MouseCol();
  bool inside = r > 0 && r < grid->Rows() && c > 0 && c < grid->Cols();
  grid->SetToolTipText(inside ? DecodeCellText(grid->TextMatrix(r, c)) : QString());
}

void frm_Qvue::MSFlexGrid1_KeyUp(int KeyCode, int) {
  if (KeyCode == kDeleteKey) MnuPOPBDelete_Click();
}

void frm_Qvue::MSFlexGrid1_DblClick() {
  MSFlexGrid* grid = MSFlexGrid1;
  if (grid->Row() < grid->FixedRows()) return;
  if (grid->Col() == 0 || grid->Col() == kClassificationColumn) {
    OpenMessageInEditor(grid->Row());
  } else {
    BeginCellEdit();
  }
}

void frm_Qvue::MSFlexGrid1_SelChange() { UpdateSelectionCounts(); }

void frm_Qvue::MnuPOPHSortX_Click() {
  const std::string header = MSFlexGrid1->TextMatrix(0, MSFlexGrid1->Col());
  if (header.empty() || header.back() != '+') {
    MnuPOPHSortA_Click();
  } else {
    MnuPOPHSortD_Click();
  }
}

namespace {

void SortAndMark(frm_Qvue& form, MSFlexGrid* grid, int setting, char mark) {
  grid->Sort(setting);
  form.ClearSortMarks();
  std::string header = grid->TextMatrix(0, grid->Col());
  if (!header.empty()) header.back() = mark;
  grid->SetTextMatrix(0, grid->Col(), header);
}

}  // namespace

void frm_Qvue::MnuPOPHSortA_Click() { SortAndMark(*this, MSFlexGrid1, 1, '+'); }
void frm_Qvue::MnuPOPHSortD_Click() { SortAndMark(*this, MSFlexGrid1, 2, '-'); }

void frm_Qvue::ClearSortMarks() {
  for (int c = 0; c < MSFlexGrid1->Cols(); ++c) {
    std::string header = MSFlexGrid1->TextMatrix(0, c);
    if (!header.empty()) header.back() = ' ';
    MSFlexGrid1->SetTextMatrix(0, c, header);
  }
}

void frm_Qvue::MnuPOPBSelectAll_Click() {
  MSFlexGrid* grid = MSFlexGrid1;
  grid->SetRow(grid->FixedRows());
  grid->SetCol(grid->FixedCols());
  grid->SetRowSel(grid->Rows() - 1);
  grid->SetColSel(grid->Cols() - 1);
  UpdateSelectionCounts();
}

// ---- Editing a cell in place

void frm_Qvue::BeginCellEdit() {
  MSFlexGrid* grid = MSFlexGrid1;
  grid->scrollTo(grid->model()->index(static_cast<int>(grid->Row() - grid->FixedRows()), grid->Col()));
  double tx = grid->TwipsPerPixelX(), ty = grid->TwipsPerPixelY();
  txt_WWW->setGeometry(grid->x() + static_cast<int>(grid->CellLeft() / tx),
                       grid->y() + static_cast<int>(grid->CellTop() / ty), static_cast<int>(grid->CellWidth() / tx),
                       static_cast<int>(grid->CellHeight() / ty));
  txt_WWW->setVisible(true);
  txt_WWW->setEnabled(true);
  txt_WWW->raise();
  txt_WWW->setText(DecodeCellText(grid->TextMatrix(grid->Row(), grid->Col())));
  txt_WWW->setFocus();
}

void frm_Qvue::txt_WWW_KeyPress(int KeyAscii) {
  if (KeyAscii == 13) {
    // An edited cell holds UTF-8.
    MSFlexGrid1->SetTextMatrix(MSFlexGrid1->Row(), MSFlexGrid1->Col(), txt_WWW->text().toUtf8().toStdString());
    txt_WWW_LostFocus();
  } else if (KeyAscii == 27) {
    txt_WWW_LostFocus();
  }
}

void frm_Qvue::txt_WWW_LostFocus() {
  txt_WWW->setVisible(false);
  txt_WWW->setEnabled(false);
}

// ---- Message actions

frm_Qvue::SelectionRange frm_Qvue::ActionRange() const {
  const MSFlexGrid* grid = MSFlexGrid1;
  SelectionRange range{std::min(grid->Row(), grid->RowSel()), std::max(grid->Row(), grid->RowSel()),
                       std::min(grid->Col(), grid->ColSel()), std::max(grid->Col(), grid->ColSel())};
  range.first = std::max(range.first, grid->FixedRows());  // the header row is never acted on
  return range;
}

void frm_Qvue::RestoreSelection(const SelectionRange& range) {
  MSFlexGrid1->SetRow(range.first);
  MSFlexGrid1->SetCol(range.first_col);
  MSFlexGrid1->SetRowSel(range.last);
  MSFlexGrid1->SetColSel(range.last_col);
}

std::string frm_Qvue::MessagePath(std::int64_t r) const {
  const std::string name = FileNameCell(MSFlexGrid1, r);
  return name.empty() ? std::string() : platform::JoinPath(CurrentFolder_, name);
}

void frm_Qvue::RemovingAction(const std::function<void(std::int64_t)>& operation) {
  // What the action itself changes in the listed folder is taken into the
  // listed names, so that only others' changes raise the folder-changed cue.
  const std::unordered_set<std::string> before = ListedNamesOnDisk();
  RemoveRows(operation);
  platform::Host().SyncChangedFolders();  // the moves and deletes reach the disk now
  const std::unordered_set<std::string> after = ListedNamesOnDisk();
  for (const std::string& name : before)
    if (after.count(name) == 0) listed_names_.erase(name);
  for (const std::string& name : after)
    if (before.count(name) == 0) listed_names_.insert(name);
  SetFolderChanged(after != listed_names_);
}

void frm_Qvue::RemoveRows(const std::function<void(std::int64_t)>& operation) {
  MSFlexGrid* grid = MSFlexGrid1;
  SelectionRange range = ActionRange();
  std::int64_t row = range.first;
  for (std::int64_t i = range.first; i <= range.last; ++i) {
    std::string path = MessagePath(row);
    if (!path.empty()) operation(row);
    // The row goes only when its file has gone from the listed folder: a
    // delete or move that failed (file in use, folder missing, no right)
    // keeps its row, and the next selected row is the one below it. The
    // exact name is asked for: a file of another message in another letter
    // case does not keep the row.
    bool worked = !path.empty() && !platform::Host().PathExists(path);
    if (!worked) {
      ++row;
      continue;
    }
    if (grid->Rows() <= grid->FixedRows() + 1) {
      InitGrid();  // the last data row is reset, never deleted
      break;
    }
    grid->RemoveItem(row);
  }
  grid->SetRow(0);
  grid->SetCol(0);
  grid->SetRowSel(0);
  grid->SetColSel(0);
  UpdateSelectionCounts();
}

void frm_Qvue::VisitingAction(const std::function<void(std::int64_t)>& operation) {
  SelectionRange range = ActionRange();
  for (std::int64_t r = range.first; r <= range.last; ++r) operation(r);
  RestoreSelection(range);
}

void frm_Qvue::MarkingAction(bool flag) {
  MSFlexGrid* grid = MSFlexGrid1;
  SelectionRange range = ActionRange();
  for (std::int64_t r = range.first; r <= range.last; ++r) {
    grid->SetRow(r);
    grid->SetCol(kClassificationColumn);
    if (flag) {
      grid->SetCellPicture(kFlagMark);
    } else if (grid->CellPicture() == kFlagMark) {
      grid->SetCellPicture(0);
    }
  }
  RestoreSelection(range);
}

void frm_Qvue::DeleteMessageFiles(std::int64_t r) {
  std::string path = MessagePath(r);
  if (!path.empty()) ::DeleteMessageFiles(path);
}

void frm_Qvue::OpenMessageInEditor(std::int64_t r) {
  std::string path = MessagePath(r);
  if (!path.empty()) StartCommand("EditPad.exe " + path);
}

void frm_Qvue::OpenMessagePairInEditor(std::int64_t r) {
  std::string path = MessagePath(r);
  if (path.empty()) return;
  StartCommand("EditPad.exe " + path);
  if (platform::EndsWithQ0(path)) StartCommand("EditPad.exe " + CompanionFile(path));
}

void frm_Qvue::MoveMessageToErrors(std::int64_t r) {
  MoveRowMessage(MSFlexGrid1, r, CurrentFolder_, platform::JoinPath(RemailerRoot_ + QueuePart_, "Errors"));
}

void frm_Qvue::MoveMessageToWait(std::int64_t r) {
  MoveRowMessage(MSFlexGrid1, r, CurrentFolder_, platform::JoinPath(RemailerRoot_ + QueuePart_, "Wait"));
}

void frm_Qvue::MoveMessageToQueue(std::int64_t r) {
  MoveRowMessage(MSFlexGrid1, r, CurrentFolder_, RemailerRoot_ + QueuePart_);
}

bool frm_Qvue::AddSalvageTagToRow(std::int64_t r) {
  std::string path = MessagePath(r);
  return !path.empty() && AddSalvageTag(path);
}

void frm_Qvue::MnuPOPBDelete_Click() {
  RemovingAction([this](std::int64_t r) { DeleteMessageFiles(r); });
}
void frm_Qvue::MnuPOPBFlag_Click() { MarkingAction(true); }
void frm_Qvue::MnuPOPBUnFlag_Click() { MarkingAction(false); }
void frm_Qvue::MnuPOPBMagic1_Click() {
  VisitingAction([this](std::int64_t r) { OpenMessageInEditor(r); });
}
void frm_Qvue::MnuPOPBMagic2_Click() {
  VisitingAction([this](std::int64_t r) { OpenMessagePairInEditor(r); });
}
void frm_Qvue::MnuPOPBErrore_Click() {
  RemovingAction([this](std::int64_t r) { MoveMessageToErrors(r); });
}
void frm_Qvue::MnuPOPBHold_Click() {
  RemovingAction([this](std::int64_t r) { MoveMessageToWait(r); });
}
void frm_Qvue::MnuPOPBRelease_Click() {
  RemovingAction([this](std::int64_t r) { MoveMessageToQueue(r); });
}
void frm_Qvue::MnuPOPBSalvage_Click() {
  RemovingAction([this](std::int64_t r) {
    // A message whose tag could not be written (disk full) stays where it
    // is: released untagged, the rules would take it again. A file too
    // short for the tag is released all the same.
    if (!AddSalvageTagToRow(r) && platform::Host().FileLength(MessagePath(r)).value_or(0) >= 2) return;
    MoveMessageToQueue(r);
  });
}

// ---- Navigation cross

void frm_Qvue::cmd_UP_Click() {
  MSFlexGrid* grid = MSFlexGrid1;
  if (grid->Row() > grid->FixedRows()) {
    grid->SetRow(grid->Row() - 1);
    grid->SetRowSel(grid->Row());
  }
}

void frm_Qvue::cmd_DN_Click() {
  MSFlexGrid* grid = MSFlexGrid1;
  if (grid->Row() < grid->Rows() - 1) {
    grid->SetRow(grid->Row() + 1);
    grid->SetRowSel(grid->Row());
  }
}

void frm_Qvue::cmd_LT_Click() {
  MSFlexGrid* grid = MSFlexGrid1;
  if (grid->Col() > grid->FixedCols()) {
    grid->SetCol(grid->Col() - 1);
    grid->SetColSel(grid->Col());
  }
}

void frm_Qvue::cmd_RT_Click() {
  MSFlexGrid* grid = MSFlexGrid1;
  if (grid->Col() < grid->Cols() - 1) {
    grid->SetCol(grid->Col() + 1);
    grid->SetColSel(grid->Col());
  }
}

void frm_Qvue::cmd_HO_Click() {
  MSFlexGrid1->SetRow(0);
  MSFlexGrid1->SetCol(0);
}
