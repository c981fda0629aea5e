#include "window/frm_Qvue.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <variant>

#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "shared/Module_Filter.h"
#include "shared/Module_MySafeRename.h"
#include "listing/EncodedWords.h"
#include "window/MSFlexGrid.h"
#include "window/Module_PreviousInstanceActivate.h"

namespace {

// The form's client area and the grid's place in it, in twips.
constexpr int kClientWidth = 11880, kClientHeight = 8310;
constexpr int kGridLeft = 120, kGridTop = 1200, kGridWidth = 11655, kGridHeight = 6975;
// Repaint the counters and the grid this often while a folder loads.
constexpr qint64 kRepaintMilliseconds = 40;
// A burst of changes in the listed folder is looked at once, this long after
// its first change.
constexpr int kRecheckMilliseconds = 300;
// The form's font: a sans metric-compatible with the one the twips layout
// was drawn for, at that font's size; DejaVu Sans where it is missing.
constexpr double kFormPointSize = 8.25;
const char* const kGoToolTip = "Forces Reloading of Grid";
const char* const kGoChangedToolTip = "The folder changed since it was listed: press GO to reload";

QString Show(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// The width a radio button leaves for its caption beside its circle.
int CaptionRoom(const QRadioButton* button) {
  QStyleOptionButton option;
  option.initFrom(button);
  return button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button).width();
}

// A caption shown as written: "&" marks no shortcut key.
QString NoMnemonic(QString caption) { return caption.replace("&", "&&"); }

// One control of the window's layout. The control is named by the address of
// the form's member that gets it, and its kind follows from that member's type.
struct ControlRow {
  std::variant<QGroupBox**, QRadioButton**, QPushButton**, QLineEdit**> control;
  QGroupBox** parent;   // the frame it sits in; nullptr: the client area
  QString caption;      // a frame's title, a button's caption, a text box's text
  const char* picture;  // a button's icon, by its name in :/icons; or nullptr
  const char* colour;   // the background colour; or nullptr
  struct {
    int left, top, width, height;
  } rect;  // in twips, inside the parent; empty: placed when shown
  QString tooltip;
};

QWidget* MakeControl(QGroupBox** slot, const ControlRow& row, QWidget* parent) {
  return *slot = new QGroupBox(row.caption, parent);
}

QWidget* MakeControl(QRadioButton** slot, const ControlRow& row, QWidget* parent) {
  return *slot = new QRadioButton(NoMnemonic(row.caption), parent);
}

QWidget* MakeControl(QPushButton** slot, const ControlRow& row, QWidget* parent) {
  *slot = new QPushButton(NoMnemonic(row.caption), parent);
  if (row.picture != nullptr) (*slot)->setIcon(QIcon(QString(":/icons/%1.png").arg(row.picture)));
  return *slot;
}

QWidget* MakeControl(QLineEdit** slot, const ControlRow& row, QWidget* parent) {
  return *slot = new QLineEdit(row.caption, parent);
}


}  // namespace

// Writes each listed message into the grid's spare row and repaints the
// counters and the new rows a few times a second, so that a big folder shows
// its progress without paying for a repaint per file.
class frm_Qvue::LoadObserver : public GridLoadObserver {
 public:
  explicit LoadObserver(frm_Qvue& form) : form_(form) { since_paint_.start(); }

  void RowAdded(std::int64_t, GridCells& cells) override {
    GridData& data = form_.MSFlexGrid1->Data();
    std::int64_t spare = data.Rows() - 1;
    for (int c = 0; c < kGridColumns; ++c) data.SetTextMatrix(spare, c, std::move(cells[static_cast<std::size_t>(c)]));
    if (form_.DecodedHeaders_) form_.ShowDecodedHeaders(spare);
    data.AddItem(FormatDigits(spare + 1, "000"));
  }
  void FileListed(const std::string& name) override { listed_.push_back(name); }
  // The names listed go into the form's set at the end of the load, into a
  // table sized for them once.
  void StoreListedNames() {
    form_.listed_names_.reserve(listed_.size());
    form_.listed_names_.insert(std::make_move_iterator(listed_.begin()), std::make_move_iterator(listed_.end()));
    listed_.clear();
  }
  void CountersChanged(const GridCounters& counters) override {
    latest_ = counters;
    if (since_paint_.elapsed() >= kRepaintMilliseconds) Paint();
  }
  void Paint() {
    form_.txt_Info1->setText(QString::fromStdString(latest_.Info1));
    form_.txt_Info2->setText(QString::fromStdString(latest_.Info2));
    form_.txt_Info3->setText(QString::fromStdString(latest_.Info3));
    form_.MSFlexGrid1->SyncRows();
    emit form_.CountersRepainted();
    QCoreApplication::processEvents();
    since_paint_.restart();
  }

 private:
  frm_Qvue& form_;
  QElapsedTimer since_paint_;
  GridCounters latest_;
  std::vector<std::string> listed_;
};

frm_Qvue::frm_Qvue(const QvueSettings& settings, QWidget* parent) : QMainWindow(parent), settings_(settings) {
  PreviousInstanceRunning = [] { return ActivatePreviousInstance(); };
  ShowError = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
  RunFolderDialog = [this](const std::string& init_dir) {
    QString chosen = QFileDialog::getOpenFileName(this, "Bounces Subdirectory", Show(init_dir),
                                                  "cnm(*.cnm);;All Files(*)");
    return QFile::encodeName(chosen).toStdString();
  };

  Option1Caption_ = {"", settings_.Root1, settings_.Root2};
  // The queue folders are named once, in the listing table.
  for (int i = 1; i <= kQueueChoices; ++i) Option2Caption_[static_cast<std::size_t>(i)] = ListingFor(i).QueuePart;
  Option3Caption_ = {"", "", "/Wait", "/Errors", "/Local"};
  MnuSViewCaption_ = {"", "Filter.ini"};
  MnuSAppsCaption_ = {"", "Sievbat.exe"};

  Q_INIT_RESOURCE(qvue);  // the pictures live in a static library
  setWindowIcon(QIcon(":/icons/qvue.png"));
  client_ = new QWidget(this);
  setCentralWidget(client_);
  QFont font = client_->font();
  font.setFamilies({"Liberation Sans", "DejaVu Sans"});
  font.setPointSizeF(kFormPointSize);
  client_->setFont(font);
  BuildMenus();
  BuildControls();
  client_->setMinimumSize(PixelsX(kClientWidth), PixelsY(kClientHeight));
  resize(PixelsX(kClientWidth), PixelsY(kClientHeight) + menuBar()->sizeHint().height());

  watcher_ = new QFileSystemWatcher(this);
  recheck_ = new QTimer(this);
  recheck_->setSingleShot(true);
  recheck_->setInterval(kRecheckMilliseconds);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    // A folder moved away or deleted loses its watch: one that took its
    // place is watched from now on.
    if (watcher_->directories().isEmpty() && platform::Host().PathExists(CurrentFolder_)) {
      watcher_->addPath(Show(CurrentFolder_));
    }
    if (!recheck_->isActive()) recheck_->start();
  });
  connect(recheck_, &QTimer::timeout, this, [this] { CheckListedFolder(); });
}

frm_Qvue::~frm_Qvue() = default;

int frm_Qvue::PixelsX(int twips) const {
  return static_cast<int>(std::lround(twips * logicalDpiX() / 1440.0));
}

int frm_Qvue::PixelsY(int twips) const {
  return static_cast<int>(std::lround(twips * logicalDpiY() / 1440.0));
}

void frm_Qvue::Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(PixelsX(left), PixelsY(top), PixelsX(width), PixelsY(height));
}

void frm_Qvue::BuildControls() {
  const QString root1 = Show(Option1Caption_[1]), root2 = Show(Option1Caption_[2]);
  const QString remailers = Show("Selected Remailer (" + settings_.Root1 + "=" + settings_.Host1 + ", " +
                                 settings_.Root2 + "=" + settings_.Host2 + ")");
  auto queue = [this](int i) { return Show(Option2Caption_[static_cast<std::size_t>(i)]); };
  auto subfolder = [this](int i) { return Show(Option3Caption_[static_cast<std::size_t>(i)]); };
  const char* const orange = "rgb(255,128,0)";
  const char* const white = "rgb(255,255,255)";
  const char* const green = "rgb(0,255,0)";
  const char* const blue = "rgb(0,0,255)";
  const char* const processed = "Files Processed (Number/Size)";
  // The controls in the order they are made: a later one is drawn over an
  // earlier one it meets, and Tab goes through them in this order.
  const ControlRow layout[] = {
      // control     parent   caption           picture   colour      left   top width height tooltip
      {&Frame1,      nullptr, "Parameters 1",   nullptr,  nullptr, {  120,  120, 1455, 975}, remailers},
      {&Option1[1],  &Frame1, root1,            nullptr,  nullptr, {  120,  240, 1215, 255}, root1},
      {&Option1[2],  &Frame1, root2,            nullptr,  nullptr, {  120,  600, 1215, 255}, root2},
      {&Frame2,      nullptr, "Parameters 2",   nullptr,  nullptr, { 1680,  120, 3135, 975}, "Folder to peep in"},
      {&Option2[1],  &Frame2, queue(1),         nullptr,  nullptr, {  120,  240, 1455, 255}, ""},
      {&Option2[2],  &Frame2, queue(2),         nullptr,  nullptr, {  120,  480, 1455, 255}, ""},
      {&Option2[3],  &Frame2, queue(3),         nullptr,  nullptr, {  120,  720, 1455, 255}, ""},
      {&Option2[4],  &Frame2, queue(4),         nullptr,  nullptr, { 1560,  240, 1575, 255}, ""},
      {&Option2[5],  &Frame2, queue(5),         nullptr,  nullptr, { 1560,  480, 1575, 255}, ""},
      {&Option2[6],  &Frame2, queue(6),         nullptr,  nullptr, { 1560,  720, 1575, 255}, ""},
      {&cmd_FILTER,  nullptr, "FILTER",         nullptr,  nullptr, { 4920,  120,  735, 255},
       "Reloads Filtering Parameters (Fillter.ini)"},
      {&cmd_GO,      nullptr, "GO",             nullptr,  nullptr, { 5760,  120, 2055, 255}, kGoToolTip},
      {&Frame4,      nullptr, processed,        nullptr,  nullptr, { 4920,  480, 2895, 615}, ""},
      {&txt_Info1,   &Frame4, "00 000",         nullptr,  nullptr, {  120,  240,  615, 285}, ""},
      {&txt_Info2,   &Frame4, "00 000 000 000", nullptr,  nullptr, {  840,  240, 1215, 285}, ""},
      {&txt_Info3,   &Frame4, "00 000",         nullptr,  nullptr, { 2160,  240,  615, 285}, ""},
      {&cmd_UP,      nullptr, "",               "up",     nullptr, { 8280,  120,  255, 375}, ""},
      {&cmd_LT,      nullptr, "",               "left",   nullptr, { 7920,  480,  375, 255}, ""},
      {&cmd_RT,      nullptr, "",               "right",  nullptr, { 8520,  480,  375, 255}, ""},
      {&cmd_DN,      nullptr, "",               "down",   nullptr, { 8280,  720,  255, 375}, ""},
      {&cmd_HO,      nullptr, "",               nullptr,  orange,  { 8280,  480,  255, 255}, ""},
      {&txt_NbSelV,  nullptr, "",               nullptr,  nullptr, { 7920,  840,  375, 285}, ""},
      {&txt_NbSelH,  nullptr, "",               nullptr,  nullptr, { 8520,  840,  375, 285}, ""},
      {&Frame3,      nullptr, "Parameters3",    nullptr,  nullptr, { 9000,  120, 2775, 495},
       "Special Subfolder (When applicable)"},
      {&Option3[1],  &Frame3, subfolder(1),     nullptr,  nullptr, {  120,  240,  375, 195}, ""},
      {&Option3[2],  &Frame3, subfolder(2),     nullptr,  nullptr, {  600,  240,  855, 195}, ""},
      {&Option3[3],  &Frame3, subfolder(3),     nullptr,  nullptr, { 1560,  240,  855, 195}, ""},
      {&Option3[4],  &Frame3, subfolder(4),     nullptr,  nullptr, { 2520,  240,  255, 195}, "Special Extra Folders"},
      {&txt_DIR,     &Frame3, "",               nullptr,  nullptr, {    0,    0,    0,   0},
       "Double-Click for Folders Dialog Box"},
      {&cmd_MAGIC1,  nullptr, "",               "magic1", nullptr, { 9000,  720,  375, 375},
       "MAGIC1 (To View Selected Messages Content)"},
      {&cmd_MAGIC2,  nullptr, "",               "magic2", nullptr, { 9360,  720,  375, 375},
       "MAGIC2 (To View Selected Messages Content)"},
      {&cmd_DELETE,  nullptr, "",               "delete", nullptr, { 9720,  720,  375, 375},
       "DELETE (To Delete Selected Messages Contents)"},
      {&cmd_FLAG,    nullptr, "",               "flag",   nullptr, {10080,  720,  375, 375},
       "FLAG (To Flag Selected Messages)"},
      {&cmd_UNFLAG,  nullptr, "",               "unflag", nullptr, {10440,  720,  375, 375},
       "UNFLAG (To UnFlag Selected Messages)"},
      {&cmd_ERRORE,  nullptr, "E",              nullptr,  orange,  {10800,  720,  255, 375},
       "ERRORE (To Move Selected Messages in Error Queue)"},
      {&cmd_HOLD,    nullptr, "H",              nullptr,  white,   {11040,  720,  255, 375},
       "HOLD (To Move Selected Messages in Wait Queue)"},
      {&cmd_RELEASE, nullptr, "R",              nullptr,  green,   {11280,  720,  255, 375},
       "RELEASE (To Move Selected Messages back in normal  Queue)"},
      {&cmd_SALVAGE, nullptr, "S",              nullptr,  blue,    {11520,  720,  255, 375},
       "SALVAGE (To Move Selected Messages back in normal  Queue + SALVAGED tag)"},
  };
  for (const ControlRow& row : layout) {
    QWidget* parent = row.parent != nullptr ? *row.parent : client_;
    QWidget* control = std::visit([&](auto* slot) { return MakeControl(slot, row, parent); }, row.control);
    if (row.rect.width > 0) Place(control, row.rect.left, row.rect.top, row.rect.width, row.rect.height);
    if (row.colour != nullptr) control->setStyleSheet(QString("background-color: %1;").arg(row.colour));
    control->setToolTip(row.tooltip);
  }

  // The installation's name is the root's last folder; the whole path is in
  // the tooltip.
  for (QRadioButton* root : {Option1[1], Option1[2]}) {
    root->setText(NoMnemonic(RootCaption(root->toolTip(), root->fontMetrics(), CaptionRoom(root))));
  }
  group1_ = new QButtonGroup(this);
  group2_ = new QButtonGroup(this);
  group3_ = new QButtonGroup(this);
  for (int i = 1; i <= 2; ++i) group1_->addButton(Option1[i], i);
  for (int i = 1; i <= 6; ++i) group2_->addButton(Option2[i], i);
  for (int i = 1; i <= 4; ++i) group3_->addButton(Option3[i], i);
  // The counters are display only, and as readable as any text: read-only,
  // not disabled, and in the normal colours also while a load disables the form.
  for (QLineEdit* box : {txt_Info1, txt_Info2, txt_Info3, txt_NbSelV, txt_NbSelH}) {
    box->setReadOnly(true);
    QPalette palette = box->palette();
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::Base})
      palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
    box->setPalette(palette);
  }
  Frame3->installEventFilter(this);
  txt_DIR->hide();
  txt_DIR->installEventFilter(this);

  MSFlexGrid1 = new MSFlexGrid(kGridColumns, client_);
  MSFlexGrid1->SetToolTipText("Double-Click to Modify, Right-Click for PopupMenu,Left-Click on Hd to Sort");
  LayOutGrid();

  txt_WWW = new QLineEdit("Text1", client_);
  txt_WWW->hide();
  txt_WWW->setEnabled(false);
  txt_WWW->installEventFilter(this);
  MSFlexGrid1->RegisterPicture(kFlagMark, windowIcon());

  connect(group1_, &QButtonGroup::idClicked, this, [this](int id) { Option1_Click(id); });
  connect(group2_, &QButtonGroup::idClicked, this, [this](int id) { Option2_Click(id); });
  connect(group3_, &QButtonGroup::idClicked, this, [this](int id) { Option3_Click(id); });
  connect(cmd_GO, &QPushButton::clicked, this, [this] { cmd_GO_Click(); });
  connect(cmd_FILTER, &QPushButton::clicked, this, [this] { cmd_FILTER_Click(); });
  ConnectGridHandlers();
}

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

void frm_Qvue::LayOutGrid() {
  // The grid keeps its margins to the right and bottom edges; every other
  // control keeps its place.
  int right_margin = PixelsX(kClientWidth - kGridLeft - kGridWidth);
  int bottom_margin = PixelsY(kClientHeight - kGridTop - kGridHeight);
  int width = std::max(PixelsX(kGridWidth), client_->width() - PixelsX(kGridLeft) - right_margin);
  int height = std::max(PixelsY(kGridHeight), client_->height() - PixelsY(kGridTop) - bottom_margin);
  MSFlexGrid1->setGeometry(PixelsX(kGridLeft), PixelsY(kGridTop), width, height);
}

void frm_Qvue::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (MSFlexGrid1 != nullptr) LayOutGrid();
}

void frm_Qvue::closeEvent(QCloseEvent* event) {
  // A load processes pending events; closing in the middle of it would pull
  // the grid away under the load. The window closes when the load is done.
  if (loading_) {
    close_requested_ = true;
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

bool frm_Qvue::Form_Load() {
  if (QScreen* screen = this->screen()) {
    QRect available = screen->availableGeometry();
    move(available.left() + (available.width() - frameGeometry().width()) / 2,
         available.top() + (available.height() - frameGeometry().height()) / 2);
  }
  setWindowTitle("Qvuemon");
  if (PreviousInstanceRunning && PreviousInstanceRunning()) return false;

  Option1_Click(1);
  Option2_Click(4);
  Option3_Click(2);
  show();
  LoadFilterRules();
  LoadGrid();
  GridLoaded_ = true;
  return true;
}

QString frm_Qvue::RootCaption(const QString& root, const QFontMetrics& metrics, int room) {
  if (metrics.horizontalAdvance(root) <= room) return root;
  QString last = root.section('/', -1, -1, QString::SectionSkipEmpty);
  if (last.isEmpty()) last = root;
  QString marked = QString::fromUtf8("\u2026/") + last;
  if (metrics.horizontalAdvance(marked) <= room) return marked;
  return metrics.elidedText(last, Qt::ElideRight, room);
}

int frm_Qvue::SelectedQueue() const {
  int id = group2_->checkedId();
  return id < 1 ? 4 : id;
}

void frm_Qvue::ComposeCurrentFolder() { CurrentFolder_ = RemailerRoot_ + QueuePart_ + SubfolderPart_; }

void frm_Qvue::Option1_Click(int Index) {
  Option1[static_cast<std::size_t>(Index)]->setChecked(true);
  RemailerRoot_ = Option1Caption_[static_cast<std::size_t>(Index)];
  ComposeCurrentFolder();
  if (GridLoaded_) LoadGrid();
}

void frm_Qvue::Option2_Click(int Index) {
  Option2[static_cast<std::size_t>(Index)]->setChecked(true);
  if (Index <= 3) {
    // ~Filtered, MailIn and Trash have no special subfolder.
    Option3[1]->setChecked(true);
    SubfolderPart_.clear();
  }
  QueuePart_ = Option2Caption_[static_cast<std::size_t>(Index)];
  ComposeCurrentFolder();
  if (GridLoaded_) LoadGrid();
}

void frm_Qvue::Option3_Click(int Index) {
  Option3[static_cast<std::size_t>(Index)]->setChecked(true);
  SubfolderPart_ = Option3Caption_[static_cast<std::size_t>(Index)];
  ComposeCurrentFolder();
  if (GridLoaded_) LoadGrid();
}

void frm_Qvue::cmd_GO_Click() { LoadGrid(); }

void frm_Qvue::LoadFilterRules() {
  if (std::optional<std::string> fault = TryLoadFilterTable()) {
    ShowError(QString::fromLocal8Bit(fault->c_str()) +
              "\n\nThe rules are empty until Filter.ini is fixed and FILTER is pressed.");
  }
}

void frm_Qvue::cmd_FILTER_Click() {
  LoadFilterRules();
  LoadGrid();
}

bool frm_Qvue::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Frame3 && event->type() == QEvent::MouseButtonDblClick) {
    Frame3_DblClick();
    return true;
  }
  if (watched == txt_WWW) {
    if (event->type() == QEvent::KeyPress) {
      int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
        txt_WWW_KeyPress(key == Qt::Key_Escape ? 27 : 13);
        return true;
      }
    }
    if (event->type() == QEvent::FocusOut && txt_WWW->isVisible()) txt_WWW_LostFocus();
  }
  if (watched == txt_DIR) {
    if (event->type() == QEvent::MouseButtonDblClick) {
      txt_DIR_DblClick();
      return true;
    }
    if (event->type() == QEvent::FocusOut && txt_DIR->isVisible()) txt_DIR_LostFocus();
  }
  return QMainWindow::eventFilter(watched, event);
}

void frm_Qvue::Frame3_DblClick() {
  txt_DIR->setText(Show(Option3Caption_[4]));
  int width = 0;
  for (int i = 1; i <= 4; ++i) width += Option3[static_cast<std::size_t>(i)]->width();
  txt_DIR->setGeometry(Option3[1]->x(), Option3[1]->y(), width, Option3[1]->height());
  txt_DIR->show();
}

void frm_Qvue::txt_DIR_DblClick() {
  std::string init_dir = RemailerRoot_ + QueuePart_;
  std::string file_name = RunFolderDialog(init_dir);
  // The first folder level below the queue folder: from the separator after
  // the queue folder up to the next separator.
  std::size_t a = init_dir.size() + 1;  // 1-based position of that separator
  std::size_t b = file_name.size() > a ? file_name.find(platform::kPathSeparator, a) : std::string::npos;
  if (b == std::string::npos) {
    txt_DIR->clear();
    return;
  }
  txt_DIR->setText(Show(file_name.substr(a - 1, b + 1 - a)));
  txt_DIR_LostFocus();
}

void frm_Qvue::txt_DIR_LostFocus() {
  txt_DIR->hide();
  Option3Caption_[4] = QFile::encodeName(txt_DIR->text()).toStdString();
  Option3[4]->setText(NoMnemonic(txt_DIR->text()));
  Option3[4]->setToolTip(txt_DIR->text());
  QCoreApplication::processEvents();
  if (Option3[4]->isChecked()) Option3_Click(4);
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

void frm_Qvue::InitGrid() {
  MSFlexGrid* grid = MSFlexGrid1;
  grid->SetRows(grid->FixedRows() + 1);  // rows dropped first: Clear() then empties two rows, not every row
  grid->Clear();
  int column_unit = static_cast<int>(std::lround(grid->FontSize() * grid->TwipsPerPixelX()));
  grid->SetFormatString(" >|< | >|< |< |< |< |< |< ");
  const GridCells& headers = GridHeaderTexts();
  const int widths[kGridColumns] = {3, 10, 7, 4, 25, 25, 25, 25, 18};
  for (int c = 0; c < kGridColumns; ++c) {
    grid->SetTextMatrix(0, c, headers[static_cast<std::size_t>(c)]);
    grid->SetColWidth(c, widths[c] * column_unit);
  }
  grid->SetTextMatrix(1, 0, FormatDigits(1, "000"));
  grid->SetColWidth(ListingFor(SelectedQueue()).HiddenColumn, 0);
  UpdateSelectionCounts();
}

void frm_Qvue::UpdateSelectionCounts() {
  const MSFlexGrid* grid = MSFlexGrid1;
  std::int64_t rows = std::max(grid->Row(), grid->RowSel()) - std::min(grid->Row(), grid->RowSel()) + 1;
  int cols = std::max(grid->Col(), grid->ColSel()) - std::min(grid->Col(), grid->ColSel()) + 1;
  txt_NbSelV->setText(QString::number(rows));
  txt_NbSelH->setText(QString::number(cols));
}

void frm_Qvue::LoadGrid() {
  if (loading_) return;
  loading_ = true;
  ++load_count_;
  for (QLineEdit* box : {txt_Info1, txt_Info2, txt_Info3}) box->setText("0");
  // Watched from before the folder is read on. What a killed pass or window
  // left unfinished in this queue is put right before it is listed: each
  // message shows once, whole, where it is. The recovery takes the listed
  // folder's listing, so that a large folder is read once.
  WatchListedFolder();
  const std::string queue = RemailerRoot_ + QueuePart_;
  platform::FolderListing listing;
  bool listed = platform::Host().ReadFolder(CurrentFolder_, &listing);
  if (RecoverInterruptedChanges({CurrentFolder_, queue, platform::JoinPath(queue, "Wait"),
                                 platform::JoinPath(queue, "Errors")},
                                listed ? &listing : nullptr)) {
    listed = platform::Host().ReadFolder(CurrentFolder_, &listing);
  }
  platform::Host().SyncChangedFolders();
  InitGrid();
  QCoreApplication::processEvents();
  emit CountersRepainted();  // the boxes now show their "0"

  QApplication::setOverrideCursor(Qt::WaitCursor);
  client_->setEnabled(false);
  menuBar()->setEnabled(false);
  {
    LoadObserver observer(*this);
    LoadGridRows(CurrentFolder_, SelectedQueue(), observer, listing, listed);
    observer.StoreListedNames();
    observer.Paint();
  }
  menuBar()->setEnabled(true);
  client_->setEnabled(true);
  QApplication::restoreOverrideCursor();

  if (MSFlexGrid1->Rows() > MSFlexGrid1->FixedRows() + 1) MSFlexGrid1->RemoveItem(MSFlexGrid1->Rows() - 1);
  UpdateSelectionCounts();
  loading_ = false;
  if (close_requested_) close();
}

// ---- The folder-changed cue

std::unordered_set<std::string> frm_Qvue::ListedNamesOnDisk() const {
  std::unordered_set<std::string> names;
  std::vector<platform::DirEntry> entries;
  platform::Host().ListFolder(CurrentFolder_, ListingFor(SelectedQueue()).FileMask, &entries);
  for (const platform::DirEntry& entry : entries) {
    if (!entry.is_directory) names.insert(entry.name);
  }
  return names;
}

void frm_Qvue::WatchListedFolder() {
  // Watched from before the listing on: a change while the folder is
  // listed is seen, one from before it is compared away. The load fills
  // listed_names_ with what it lists.
  SetFolderChanged(false);
  listed_names_.clear();
  // A watch already on this folder stays: setting one up costs the kernel a
  // walk over every entry of a large folder.
  const QStringList watched = watcher_->directories();
  if (watched == QStringList{Show(CurrentFolder_)}) return;
  if (!watched.isEmpty()) watcher_->removePaths(watched);
  if (platform::Host().PathExists(CurrentFolder_)) watcher_->addPath(Show(CurrentFolder_));
}

void frm_Qvue::CheckListedFolder() {
  if (loading_) {
    recheck_->start();  // the load's own listing is not complete yet
    return;
  }
  SetFolderChanged(ListedNamesOnDisk() != listed_names_);
}

void frm_Qvue::SetFolderChanged(bool changed) {
  folder_changed_ = changed;
  QFont font = cmd_GO->font();
  font.setBold(changed);
  cmd_GO->setFont(font);
  cmd_GO->setToolTip(changed ? kGoChangedToolTip : kGoToolTip);
}
