// The viewer's one window: the choice of installation, queue folder and
// special subfolder, the message grid with its counters, and the menus that
// start the editor, the file manager and the batch filter.
#pragma once

#include <QMainWindow>
#include <array>
#include <functional>
#include <unordered_set>
#include <string>

#include "listing/GridLoader.h"
#include "window/SiteDefaults.h"

class MSFlexGrid;
class QAction;
class QButtonGroup;
class QFileSystemWatcher;
class QFontMetrics;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;

// What the start-up takes from the command line: the two installation roots
// and the names of the hosts that run them (shown in a tooltip); by default
// the ones built in.
struct QvueSettings {
  std::string Root1 = BuiltInSite().Root1;
  std::string Root2 = BuiltInSite().Root2;
  std::string Host1 = BuiltInSite().Host1;
  std::string Host2 = BuiltInSite().Host2;
};

class frm_Qvue : public QMainWindow {
  Q_OBJECT

 public:
  explicit frm_Qvue(const QvueSettings& settings, QWidget* parent = nullptr);
  ~frm_Qvue() override;

  // Start-up: centres the window, sets its caption, and ends at once (false)
  // in favour of a running viewer; otherwise selects the default folder,
  // shows the window, loads the rules and lists the folder.
  bool Form_Load();

  // Form state, read by the handlers and by tests.
  const std::string& CurrentFolder() const { return CurrentFolder_; }
  const std::string& RemailerRoot() const { return RemailerRoot_; }
  const std::string& QueuePart() const { return QueuePart_; }
  const std::string& SubfolderPart() const { return SubfolderPart_; }
  bool GridLoaded() const { return GridLoaded_; }
  int SelectedQueue() const;  // Option2 index, 1 to 6
  int LoadCount() const { return load_count_; }
  bool Loading() const { return loading_; }
  // The listed folder's files differ on disk from what was listed; GO shows it.
  bool FolderChanged() const { return folder_changed_; }

  // The caption of a root button: the whole root when it fits in `room`
  // pixels, else its last folder whole (after "…/" when that fits too); a
  // last folder too long for the button loses its end, never its start.
  static QString RootCaption(const QString& root, const QFontMetrics& metrics, int room);

  MSFlexGrid* Grid() const { return MSFlexGrid1; }

  // Replaceable for tests: the previous-instance test, the error box, and the
  // file-open dialog (given its start folder; returns the chosen path in
  // bytes, empty when cancelled).
  std::function<bool()> PreviousInstanceRunning;
  std::function<void(const QString& text)> ShowError;
  std::function<std::string(const std::string& init_dir)> RunFolderDialog;

  // Handlers, named after their controls; indices count from 1.
  void Option1_Click(int Index);
  void Option2_Click(int Index);
  void Option3_Click(int Index);
  void cmd_GO_Click();
  void cmd_FILTER_Click();
  void Frame3_DblClick();
  void txt_DIR_DblClick();
  void txt_DIR_LostFocus();
  void MnuSView_Click(int Index);
  // "Decoded Headers": shows the header texts of every row decoded, or raw
  // again, as the item's check mark says; nothing is read from disk.
  void MnuSViewDecoded_Click();
  void MnuSExplorer1_Click(int Index);
  void MnuSExplorer2_Click(int Index);
  void MnuSApps_Click(int Index);

  void LoadGrid();
  // Loads Filter.ini; a fault is shown, and the rules stay empty.
  void LoadFilterRules();
  void InitGrid();
  void UpdateSelectionCounts();

  // The grid's events, the header sorts, selection and in-place editing.
  void MSFlexGrid1_MouseDown(int Button, int Shift, double X, double Y);
  void MSFlexGrid1_MouseUp(int Button, int Shift, double X, double Y);
  void MSFlexGrid1_MouseMove(int Button, int Shift, double X, double Y);
  void MSFlexGrid1_KeyUp(int KeyCode, int Shift);
  void MSFlexGrid1_DblClick();
  void MSFlexGrid1_SelChange();
  void MnuPOPHSortX_Click();
  void MnuPOPHSortA_Click();
  void MnuPOPHSortD_Click();
  void MnuPOPBSelectAll_Click();
  void ClearSortMarks();
  void BeginCellEdit();
  void txt_WWW_KeyPress(int KeyAscii);
  void txt_WWW_LostFocus();

  // The message actions: each button runs its menu item's handler.
  void cmd_DELETE_Click() { MnuPOPBDelete_Click(); }
  void cmd_FLAG_Click() { MnuPOPBFlag_Click(); }
  void cmd_UNFLAG_Click() { MnuPOPBUnFlag_Click(); }
  void cmd_MAGIC1_Click() { MnuPOPBMagic1_Click(); }
  void cmd_MAGIC2_Click() { MnuPOPBMagic2_Click(); }
  void cmd_ERRORE_Click() { MnuPOPBErrore_Click(); }
  void cmd_HOLD_Click() { MnuPOPBHold_Click(); }
  void cmd_RELEASE_Click() { MnuPOPBRelease_Click(); }
  void cmd_SALVAGE_Click() { MnuPOPBSalvage_Click(); }
  void MnuPOPBDelete_Click();
  void MnuPOPBFlag_Click();
  void MnuPOPBUnFlag_Click();
  void MnuPOPBMagic1_Click();
  void MnuPOPBMagic2_Click();
  void MnuPOPBErrore_Click();
  void MnuPOPBHold_Click();
  void MnuPOPBRelease_Click();
  void MnuPOPBSalvage_Click();

  // The navigation cross.
  void cmd_UP_Click();
  void cmd_DN_Click();
  void cmd_LT_Click();
  void cmd_RT_Click();
  void cmd_HO_Click();

  // The grid picture that marks a flagged row: the window's icon.
  static constexpr int kFlagMark = 1;

  // The controls, named as on the form; arrays count from 1 (slot 0 unused).
  QGroupBox* Frame1 = nullptr;
  QGroupBox* Frame2 = nullptr;
  QGroupBox* Frame3 = nullptr;
  QGroupBox* Frame4 = nullptr;
  std::array<QRadioButton*, 3> Option1{};
  std::array<QRadioButton*, 7> Option2{};
  std::array<QRadioButton*, 5> Option3{};
  QPushButton* cmd_FILTER = nullptr;
  QPushButton* cmd_GO = nullptr;
  QLineEdit* txt_Info1 = nullptr;
  QLineEdit* txt_Info2 = nullptr;
  QLineEdit* txt_Info3 = nullptr;
  QPushButton* cmd_UP = nullptr;
  QPushButton* cmd_LT = nullptr;
  QPushButton* cmd_HO = nullptr;
  QPushButton* cmd_RT = nullptr;
  QPushButton* cmd_DN = nullptr;
  QLineEdit* txt_NbSelV = nullptr;
  QLineEdit* txt_NbSelH = nullptr;
  QLineEdit* txt_DIR = nullptr;
  QPushButton* cmd_MAGIC1 = nullptr;
  QPushButton* cmd_MAGIC2 = nullptr;
  QPushButton* cmd_DELETE = nullptr;
  QPushButton* cmd_FLAG = nullptr;
  QPushButton* cmd_UNFLAG = nullptr;
  QPushButton* cmd_ERRORE = nullptr;
  QPushButton* cmd_HOLD = nullptr;
  QPushButton* cmd_RELEASE = nullptr;
  QPushButton* cmd_SALVAGE = nullptr;
  MSFlexGrid* MSFlexGrid1 = nullptr;
  QLineEdit* txt_WWW = nullptr;
  std::array<QAction*, 2> MnuSView{};
  QAction* MnuSViewDecoded = nullptr;  // checkable, off at every start
  std::array<QAction*, 3> MnuSExplorer1{};
  std::array<QAction*, 3> MnuSExplorer2{};
  std::array<QAction*, 2> MnuSApps{};
  QMenu* MnuPOPH = nullptr;
  QMenu* MnuPOPB = nullptr;
  QAction* MnuPOPHSortX = nullptr;
  QAction* MnuPOPHSortA = nullptr;
  QAction* MnuPOPHSortD = nullptr;
  QAction* MnuPOPBSelectAll = nullptr;
  QAction* MnuPOPBDelete = nullptr;
  QAction* MnuPOPBFlag = nullptr;
  QAction* MnuPOPBUnFlag = nullptr;
  QAction* MnuPOPBMagic1 = nullptr;
  QAction* MnuPOPBMagic2 = nullptr;
  QAction* MnuPOPBErrore = nullptr;
  QAction* MnuPOPBHold = nullptr;
  QAction* MnuPOPBRelease = nullptr;
  QAction* MnuPOPBSalvage = nullptr;

 signals:
  // The counters and the grid were repainted during a load.
  void CountersRepainted();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class LoadObserver;
  // GO's tooltip while the listed folder is as it was listed.
  static constexpr const char* kGoToolTip = "Forces Reloading of Grid";
  // One control of the form's layout table, and the table (frm_Qvue.cpp).
  struct ControlEntry;
  static const ControlEntry kControls[];

  void BuildControls();
  QWidget* MakeControl(const ControlEntry& entry);
  void NameInstallations();
  void GroupOptionButtons();
  void BuildMenus();
  void Place(QWidget* widget, int left, int top, int width, int height);
  int PixelsX(int twips) const;
  int PixelsY(int twips) const;
  void LayOutGrid();
  void ComposeCurrentFolder();
  // Shows the header texts of `row` decoded, keeping the raw ones behind.
  void ShowDecodedHeaders(std::int64_t row);
  void StartCommand(const std::string& command_line);
  void ConnectGridHandlers();
  // The right-clicked message row becomes the selection unless it is in it.
  void SelectRowUnderPointer();

  // The folder-changed cue: the names the last load listed, kept up to date
  // through our own actions, against what the folder holds now.
  void WatchForChanges();
  std::unordered_set<std::string> ListedNamesOnDisk() const;
  void WatchListedFolder();
  void CheckListedFolder();
  void SetFolderChanged(bool changed);

  // The message actions' building blocks.
  struct SelectionRange {
    std::int64_t first, last;
    int first_col, last_col;
  };
  SelectionRange ActionRange() const;
  void RestoreSelection(const SelectionRange& range);
  // Runs `operation` on each selected row; a row leaves the grid only when
  // its message file is no longer at its path afterwards.
  void RemovingAction(const std::function<void(std::int64_t)>& operation);
  void RemoveRows(const std::function<void(std::int64_t)>& operation);
  void VisitingAction(const std::function<void(std::int64_t)>& operation);
  void MarkingAction(bool flag);
  // The message file of grid row r: CurrentFolder, separator, cell (r, 1);
  // empty when the cell is not a plain file name (empty, ".", "..", or with a
  // separator), so that no action touches the folder or anything outside it.
  std::string MessagePath(std::int64_t r) const;
  void DeleteMessageFiles(std::int64_t r);
  void OpenMessageInEditor(std::int64_t r);
  void OpenMessagePairInEditor(std::int64_t r);
  void MoveMessageToErrors(std::int64_t r);
  void MoveMessageToWait(std::int64_t r);
  void MoveMessageToQueue(std::int64_t r);
  bool AddSalvageTagToRow(std::int64_t r);

  QvueSettings settings_;
  std::array<std::string, 3> Option1Caption_{};
  std::array<std::string, 7> Option2Caption_{};
  std::array<std::string, 5> Option3Caption_{};
  std::array<std::string, 2> MnuSViewCaption_{};
  std::array<std::string, 2> MnuSAppsCaption_{};
  std::string RemailerRoot_;
  std::string QueuePart_;
  std::string SubfolderPart_;
  std::string CurrentFolder_;
  bool GridLoaded_ = false;
  bool DecodedHeaders_ = false;
  bool loading_ = false;
  bool close_requested_ = false;
  bool folder_changed_ = false;
  std::unordered_set<std::string> listed_names_;  // compared as a whole, never walked in order
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer* recheck_ = nullptr;
  int load_count_ = 0;
  QWidget* client_ = nullptr;
  QButtonGroup* group1_ = nullptr;
  QButtonGroup* group2_ = nullptr;
  QButtonGroup* group3_ = nullptr;
};
