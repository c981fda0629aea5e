// The window's menu bar: View (Filter.ini in the editor, the decoded view of
// the header texts), Explorer1 and Explorer2 (the program folder or the listed
// folder in the file manager), Apps (the batch filter on the listed folder),
// and Grid with the header and body menus that the grid also pops up.
#include <QAction>
#include <QMenuBar>

#include "listing/EncodedWords.h"
#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "window/MSFlexGrid.h"
#include "window/frm_Qvue.h"

void frm_Qvue::BuildMenus() {
  QMenuBar* bar = menuBar();
  QMenu* view = bar->addMenu("View");
  MnuSView[1] = view->addAction(QString::fromStdString(MnuSViewCaption_[1]));
  connect(MnuSView[1], &QAction::triggered, this, [this] { MnuSView_Click(1); });
  view->addSeparator();
  MnuSViewDecoded = view->addAction("Decoded Headers");
  MnuSViewDecoded->setCheckable(true);
  connect(MnuSViewDecoded, &QAction::triggered, this, [this] { MnuSViewDecoded_Click(); });

  QMenu* explorer1 = bar->addMenu("Explorer1");
  QMenu* explorer2 = bar->addMenu("Explorer2");
  for (int i = 1; i <= 2; ++i) {
    const char* caption = i == 1 ? "Me" : "Mail";
    MnuSExplorer1[i] = explorer1->addAction(caption);
    MnuSExplorer2[i] = explorer2->addAction(caption);
    connect(MnuSExplorer1[i], &QAction::triggered, this, [this, i] { MnuSExplorer1_Click(i); });
    connect(MnuSExplorer2[i], &QAction::triggered, this, [this, i] { MnuSExplorer2_Click(i); });
  }

  QMenu* apps = bar->addMenu("Apps");
  MnuSApps[1] = apps->addAction(QString::fromStdString(MnuSAppsCaption_[1]));
  connect(MnuSApps[1], &QAction::triggered, this, [this] { MnuSApps_Click(1); });

  QMenu* grid = bar->addMenu("Grid");
  MnuPOPH = grid->addMenu("Header");
  MnuPOPHSortX = MnuPOPH->addAction("Sort x");
  MnuPOPHSortA = MnuPOPH->addAction("Sort +");
  MnuPOPHSortD = MnuPOPH->addAction("Sort -");
  MnuPOPB = grid->addMenu("Body");
  MnuPOPBSelectAll = MnuPOPB->addAction("Select All");
  MnuPOPBSelectAll->setShortcut(QKeySequence("Ctrl+A"));
  MnuPOPB->addSeparator();
  MnuPOPBDelete = MnuPOPB->addAction("Delete");
  MnuPOPBFlag = MnuPOPB->addAction("Flag");
  MnuPOPBUnFlag = MnuPOPB->addAction("UnFlag");
  MnuPOPBMagic1 = MnuPOPB->addAction("Magic1");
  MnuPOPBMagic2 = MnuPOPB->addAction("Magic2");
  MnuPOPB->addSeparator();
  MnuPOPBErrore = MnuPOPB->addAction("Errore");
  MnuPOPBHold = MnuPOPB->addAction("Hold");
  MnuPOPBRelease = MnuPOPB->addAction("Release");
  MnuPOPBSalvage = MnuPOPB->addAction("Salvage");
}

void frm_Qvue::StartCommand(const std::string& command_line) { platform::HostLauncher().Start(command_line); }

void frm_Qvue::MnuSView_Click(int Index) {
  StartCommand("EditPad.exe " +
               platform::JoinPath(platform::Host().ProgramFolder(), MnuSViewCaption_[static_cast<std::size_t>(Index)]));
}

void frm_Qvue::MnuSViewDecoded_Click() {
  DecodedHeaders_ = MnuSViewDecoded->isChecked();
  // Cells that have both forms show the other one; with the decoded view on,
  // the cells not decoded yet (rows listed while it was off, edited cells)
  // get their decoded form now.
  GridData& cells = MSFlexGrid1->Data();
  cells.SwapTextForms();
  if (DecodedHeaders_) {
    for (std::int64_t r = cells.FixedRows(); r < cells.Rows(); ++r) ShowDecodedHeaders(r);
  }
  MSFlexGrid1->Refresh();
}

void frm_Qvue::ShowDecodedHeaders(std::int64_t row) {
  GridData& cells = MSFlexGrid1->Data();
  for (int c = kFirstHeaderTextColumn; c <= kLastHeaderTextColumn; ++c) {
    if (cells.HasOtherForm(row, c)) continue;
    const std::string& raw = cells.TextMatrix(row, c);
    if (raw.find("=?") == std::string::npos) continue;  // no encoded word in it
    std::string decoded = DecodeEncodedWords(raw);
    if (decoded != raw) cells.SetTextForms(row, c, std::move(decoded), raw);
  }
}

void frm_Qvue::MnuSExplorer1_Click(int Index) {
  if (Index == 1) StartCommand("EXPLORER.EXE /n,/e," + platform::Host().ProgramFolder());
  if (Index == 2) StartCommand("EXPLORER.EXE /n,/e," + CurrentFolder_);
}

void frm_Qvue::MnuSExplorer2_Click(int Index) {
  if (Index == 1) StartCommand("EXPLORER.EXE /n," + platform::Host().ProgramFolder());
  if (Index == 2) StartCommand("EXPLORER.EXE /n," + CurrentFolder_);
}

void frm_Qvue::MnuSApps_Click(int Index) {
  StartCommand(MnuSAppsCaption_[static_cast<std::size_t>(Index)] + " " + CurrentFolder_);
  LoadGrid();
}
