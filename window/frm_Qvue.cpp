#include "window/frm_Qvue.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <algorithm>
#include <cmath>
#include <variant>

#include "platform/FileSystem.h"
#include "shared/Module_Filter.h"
#include "shared/Module_MySafeRename.h"
#include "window/MSFlexGrid.h"
#include "window/Module_PreviousInstanceActivate.h"

namespace {

// The form's client area and the grid's place in it, in twips.
constexpr int kClientWidth = 11880, kClientHeight = 8310;
constexpr int kGridLeft = 120, kGridTop = 1200, kGridWidth = 11655, kGridHeight = 6975;
// Repaint the counters and the grid this often while a folder loads.
constexpr qint64 kRepaintMilliseconds = 40;
// The form's font: a sans metric-compatible with the one the twips layout
// was drawn for, at that font's size; DejaVu Sans where it is missing.
constexpr double kFormPointSize = 8.25;

QString Show(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// The width a radio button leaves for its caption beside its circle.
int CaptionRoom(const QRadioButton* button) {
  QStyleOptionButton option;
  option.initFrom(button);
  return button->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, button).width();
}

// A caption shown as written: "&" marks no shortcut key.
QString NoMnemonic(QString caption) { return caption.replace("&", "&&"); }

// Calls the one of several lambdas that takes the alternative a variant holds.
template <class... Lambdas>
struct Overloaded : Lambdas... {
  using Lambdas::operator()...;
};

// A counter is display only, and as readable as any text: read-only, not
// disabled, and in the normal colours also while a load disables the form.
void KeepReadable(QLineEdit* box) {
  box->setReadOnly(true);
  QPalette palette = box->palette();
  for (QPalette::ColorRole role : {QPalette::Text, QPalette::Base})
    palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
  box->setPalette(palette);
}

// An option button of the layout table: Option1 to Option3 by group, and its
// index in that group.
struct OptionButton {
  int group, index;
};

using Form = frm_Qvue;  // short, for the members named in the layout table
const char* const kOrange = "rgb(255,128,0)";
const char* const kWhite = "rgb(255,255,255)";
const char* const kGreen = "rgb(0,255,0)";
const char* const kBlue = "rgb(0,0,255)";

}  // namespace

// One control of the form. It is named by the form's member that gets it, and
// its kind follows from that member's type.
struct frm_Qvue::ControlEntry {
  std::variant<QGroupBox* Form::*, OptionButton, QPushButton* Form::*, QLineEdit* Form::*> control;
  QGroupBox* Form::*frame;  // the frame it sits in; nullptr: the client area
  const char* caption;      // a frame's title, a button's caption, a text box's text;
                            // an option button shows the folder part it selects
  const char* picture;      // a button's icon, by its name in :/icons; or nullptr
  const char* colour;       // the background colour; or nullptr
  struct {
    int left, top, width, height;
  } rect;                   // in twips, inside the frame; empty: placed when shown
  const char* tooltip;      // nullptr: the site's, set by NameInstallations
};

// The controls in the order they are made: a later one is drawn over an
// earlier one it meets, and Tab goes through them in this order.
const frm_Qvue::ControlEntry frm_Qvue::kControls[] = {
    // control           frame          caption          picture   colour   {left, top, width, height}  tooltip
    {&Form::Frame1,      nullptr,       "Parameters 1",  nullptr,  nullptr, {  120,  120, 1455, 975}, nullptr},
    {OptionButton{1, 1}, &Form::Frame1, nullptr,         nullptr,  nullptr, {  120,  240, 1215, 255}, nullptr},
    {OptionButton{1, 2}, &Form::Frame1, nullptr,         nullptr,  nullptr, {  120,  600, 1215, 255}, nullptr},
    {&Form::Frame2,      nullptr,       "Parameters 2",  nullptr,  nullptr, { 1680,  120, 3135, 975},
     "Folder to peep in"},
    {OptionButton{2, 1}, &Form::Frame2, nullptr,         nullptr,  nullptr, {  120,  240, 1455, 255}, ""},
    {OptionButton{2, 2}, &Form::Frame2, nullptr,         nullptr,  nullptr, {  120,  480, 1455, 255}, ""},
    {OptionButton{2, 3}, &Form::Frame2, nullptr,         nullptr,  nullptr, {  120,  720, 1455, 255}, ""},
    {OptionButton{2, 4}, &Form::Frame2, nullptr,         nullptr,  nullptr, { 1560,  240, 1575, 255}, ""},
    {OptionButton{2, 5}, &Form::Frame2, nullptr,         nullptr,  nullptr, { 1560,  480, 1575, 255}, ""},
    {OptionButton{2, 6}, &Form::Frame2, nullptr,         nullptr,  nullptr, { 1560,  720, 1575, 255}, ""},
    {&Form::cmd_FILTER,  nullptr,       "FILTER",        nullptr,  nullptr, { 4920,  120,  735, 255},
     "Reloads Filtering Parameters (Fillter.ini)"},
    {&Form::cmd_GO,      nullptr,       "GO",            nullptr,  nullptr, { 5760,  120, 2055, 255}, kGoToolTip},
    {&Form::Frame4,      nullptr,       "Files Processed (Number/Size)",
                                                         nullptr,  nullptr, { 4920,  480, 2895, 615}, ""},
    {&Form::txt_Info1,   &Form::Frame4, "00 000",        nullptr,  nullptr, {  120,  240,  615, 285}, ""},
    {&Form::txt_Info2,   &Form::Frame4, "00 000 000 000", nullptr, nullptr, {  840,  240, 1215, 285}, ""},
    {&Form::txt_Info3,   &Form::Frame4, "00 000",        nullptr,  nullptr, { 2160,  240,  615, 285}, ""},
    {&Form::cmd_UP,      nullptr,       "",              "up",     nullptr, { 8280,  120,  255, 375}, ""},
    {&Form::cmd_LT,      nullptr,       "",              "left",   nullptr, { 7920,  480,  375, 255}, ""},
    {&Form::cmd_RT,      nullptr,       "",              "right",  nullptr, { 8520,  480,  375, 255}, ""},
    {&Form::cmd_DN,      nullptr,       "",              "down",   nullptr, { 8280,  720,  255, 375}, ""},
    {&Form::cmd_HO,      nullptr,       "",              nullptr,  kOrange, { 8280,  480,  255, 255}, ""},
    {&Form::txt_NbSelV,  nullptr,       "",              nullptr,  nullptr, { 7920,  840,  375, 285}, ""},
    {&Form::txt_NbSelH,  nullptr,       "",              nullptr,  nullptr, { 8520,  840,  375, 285}, ""},
    {&Form::Frame3,      nullptr,       "Parameters3",   nullptr,  nullptr, { 9000,  120, 2775, 495},
     "Special Subfolder (When applicable)"},
    {OptionButton{3, 1}, &Form::Frame3, nullptr,         nullptr,  nullptr, {  120,  240,  375, 195}, ""},
    {OptionButton{3, 2}, &Form::Frame3, nullptr,         nullptr,  nullptr, {  600,  240,  855, 195}, ""},
    {OptionButton{3, 3}, &Form::Frame3, nullptr,         nullptr,  nullptr, { 1560,  240,  855, 195}, ""},
    {OptionButton{3, 4}, &Form::Frame3, nullptr,         nullptr,  nullptr, { 2520,  240,  255, 195},
     "Special Extra Folders"},
    {&Form::txt_DIR,     &Form::Frame3, "",              nullptr,  nullptr, {    0,    0,    0,   0},
     "Double-Click for Folders Dialog Box"},
    {&Form::cmd_MAGIC1,  nullptr,       "",              "magic1", nullptr, { 9000,  720,  375, 375},
     "MAGIC1 (To View Selected Messages Content)"},
    {&Form::cmd_MAGIC2,  nullptr,       "",              "magic2", nullptr, { 9360,  720,  375, 375},
     "MAGIC2 (To View Selected Messages Content)"},
    {&Form::cmd_DELETE,  nullptr,       "",              "delete", nullptr, { 9720,  720,  375, 375},
     "DELETE (To Delete Selected Messages Contents)"},
    {&Form::cmd_FLAG,    nullptr,       "",              "flag",   nullptr, {10080,  720,  375, 375},
     "FLAG (To Flag Selected Messages)"},
    {&Form::cmd_UNFLAG,  nullptr,       "",              "unflag", nullptr, {10440,  720,  375, 375},
     "UNFLAG (To UnFlag Selected Messages)"},
    {&Form::cmd_ERRORE,  nullptr,       "E",             nullptr,  kOrange, {10800,  720,  255, 375},
     "ERRORE (To Move Selected Messages in Error Queue)"},
    {&Form::cmd_HOLD,    nullptr,       "H",             nullptr,  kWhite,  {11040,  720,  255, 375},
     "HOLD (To Move Selected Messages in Wait Queue)"},
    {&Form::cmd_RELEASE, nullptr,       "R",             nullptr,  kGreen,  {11280,  720,  255, 375},
     "RELEASE (To Move Selected Messages back in normal  Queue)"},
    {&Form::cmd_SALVAGE, nullptr,       "S",             nullptr,  kBlue,   {11520,  720,  255, 375},
     "SALVAGE (To Move Selected Messages back in normal  Queue + SALVAGED tag)"},
};

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

  WatchForChanges();
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
  for (const ControlEntry& entry : kControls) {
    QWidget* control = MakeControl(entry);
    if (entry.rect.width > 0) Place(control, entry.rect.left, entry.rect.top, entry.rect.width, entry.rect.height);
    if (entry.colour != nullptr) control->setStyleSheet(QString("background-color: %1;").arg(entry.colour));
    if (entry.tooltip != nullptr) control->setToolTip(entry.tooltip);
  }
  NameInstallations();
  GroupOptionButtons();
  for (QLineEdit* box : {txt_Info1, txt_Info2, txt_Info3, txt_NbSelV, txt_NbSelH}) KeepReadable(box);
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

  connect(cmd_GO, &QPushButton::clicked, this, [this] { cmd_GO_Click(); });
  connect(cmd_FILTER, &QPushButton::clicked, this, [this] { cmd_FILTER_Click(); });
  ConnectGridHandlers();
}

QWidget* frm_Qvue::MakeControl(const ControlEntry& entry) {
  QWidget* parent = entry.frame != nullptr ? this->*entry.frame : client_;
  const Overloaded make{
      [&](QGroupBox* Form::*frame) -> QWidget* { return this->*frame = new QGroupBox(entry.caption, parent); },
      [&](OptionButton option) -> QWidget* {
        QRadioButton** groups[] = {nullptr, Option1.data(), Option2.data(), Option3.data()};
        const std::string* parts[] = {nullptr, Option1Caption_.data(), Option2Caption_.data(), Option3Caption_.data()};
        QString caption = NoMnemonic(Show(parts[option.group][option.index]));
        return groups[option.group][option.index] = new QRadioButton(caption, parent);
      },
      [&](QPushButton* Form::*button) -> QWidget* {
        QPushButton* made = this->*button = new QPushButton(NoMnemonic(entry.caption), parent);
        if (entry.picture != nullptr) made->setIcon(QIcon(QString(":/icons/%1.png").arg(entry.picture)));
        return made;
      },
      [&](QLineEdit* Form::*box) -> QWidget* { return this->*box = new QLineEdit(entry.caption, parent); },
  };
  return std::visit(make, entry.control);
}

// The installations are named by the site: the frame's tooltip names each
// root's host; a root button shows the root's last folder, and the whole path
// in its tooltip.
void frm_Qvue::NameInstallations() {
  Frame1->setToolTip(Show("Selected Remailer (" + settings_.Root1 + "=" + settings_.Host1 + ", " + settings_.Root2 +
                          "=" + settings_.Host2 + ")"));
  for (std::size_t i = 1; i <= 2; ++i) {
    const QString root = Show(Option1Caption_[i]);
    Option1[i]->setToolTip(root);
    Option1[i]->setText(NoMnemonic(RootCaption(root, Option1[i]->fontMetrics(), CaptionRoom(Option1[i]))));
  }
}

void frm_Qvue::GroupOptionButtons() {
  group1_ = new QButtonGroup(this);
  group2_ = new QButtonGroup(this);
  group3_ = new QButtonGroup(this);
  for (int i = 1; i <= 2; ++i) group1_->addButton(Option1[i], i);
  for (int i = 1; i <= 6; ++i) group2_->addButton(Option2[i], i);
  for (int i = 1; i <= 4; ++i) group3_->addButton(Option3[i], i);
  connect(group1_, &QButtonGroup::idClicked, this, [this](int id) { Option1_Click(id); });
  connect(group2_, &QButtonGroup::idClicked, this, [this](int id) { Option2_Click(id); });
  connect(group3_, &QButtonGroup::idClicked, this, [this](int id) { Option3_Click(id); });
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
