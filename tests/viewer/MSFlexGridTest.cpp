#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <vector>

#include "viewer/FlexGridModel.h"
#include "viewer/MSFlexGrid.h"

namespace {

constexpr int kCols = 4;
constexpr int kRows = 8;  // non-fixed rows: they leave empty space under them

struct MouseReport {
  int button, shift;
  double x, y;
  std::int64_t mouse_row;
  int mouse_col;
};

}  // namespace

class MSFlexGridTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QWidget> window_;
  MSFlexGrid* grid_ = nullptr;
  std::vector<MouseReport> downs_;
  int sel_changes_ = 0;

  QAbstractItemModel* Model() const { return grid_->model(); }
  QModelIndex CellIndex(std::int64_t row, int col) const { return Model()->index(static_cast<int>(row - 1), col); }
  // Centre of a cell in the coordinates of the widget its events go to.
  QPoint CellCentre(std::int64_t row, int col) const { return grid_->visualRect(CellIndex(row, col)).center(); }
  QPoint HeaderCentre(int col) const {
    QHeaderView* header = grid_->horizontalHeader();
    return {header->sectionViewportPosition(col) + header->sectionSize(col) / 2, header->height() / 2};
  }
  std::vector<std::int64_t> Selection() const {
    return {grid_->Row(), grid_->Col(), grid_->RowSel(), grid_->ColSel()};
  }

 private slots:
  void init() {
    window_ = std::make_unique<QWidget>();
    window_->resize(420, 320);
    grid_ = new MSFlexGrid(kCols, window_.get());
    grid_->setGeometry(0, 0, 420, 320);
    const char* headers[kCols] = {"N\xC2\xB0 ", "File Name ", "Size: ", "Subject: "};
    for (int c = 0; c < kCols; ++c) grid_->SetTextMatrix(0, c, headers[c]);
    grid_->SetRows(1 + kRows);
    for (int r = 1; r <= kRows; ++r) {
      grid_->SetTextMatrix(r, 0, std::to_string(r));
      grid_->SetTextMatrix(r, 1, "m" + std::to_string(r) + ".q0");
    }
    for (int c = 0; c < kCols; ++c) grid_->SetColWidth(c, 1200);
    downs_.clear();
    sel_changes_ = 0;
    connect(grid_, &MSFlexGrid::MouseDown, this, [this](int button, int shift, double x, double y) {
      downs_.push_back({button, shift, x, y, grid_->MouseRow(), grid_->MouseCol()});
    });
    connect(grid_, &MSFlexGrid::SelChange, this, [this] { ++sel_changes_; });
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanup() { window_.reset(); }

  void modelShowsGridDataWithRowZeroAsHeader() {
    grid_->SetFormatString("<|<|>|<");
    grid_->SetTextMatrix(3, 2, "1234");
    QCOMPARE(Model()->rowCount(), kRows);
    QCOMPARE(Model()->columnCount(), kCols);
    QCOMPARE(Model()->headerData(3, Qt::Horizontal).toString(), QString("Subject: "));
    QCOMPARE(Model()->headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("N\xC2\xB0 "));
    QCOMPARE(Model()->data(CellIndex(3, 1)).toString(), QString("m3.q0"));
    QCOMPARE(Model()->data(CellIndex(3, 2)).toString(), QString("1234"));
    QCOMPARE(Model()->data(CellIndex(3, 2), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    QCOMPARE(Model()->data(CellIndex(3, 1), Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft | Qt::AlignVCenter));

    const QPalette& palette = grid_->palette();
    grid_->SetRow(2);
    grid_->SetCol(1);
    grid_->SetRowSel(4);
    grid_->SetColSel(2);
    auto background = [&](std::int64_t row, int col) {
      return Model()->data(CellIndex(row, col), Qt::BackgroundRole).value<QBrush>().color();
    };
    QCOMPARE(background(3, 2), palette.color(QPalette::Highlight));
    QCOMPARE(Model()->data(CellIndex(4, 1), Qt::ForegroundRole).value<QBrush>().color(),
             palette.color(QPalette::HighlightedText));
    QCOMPARE(background(5, 0), palette.color(QPalette::Button));  // the number column, as a header
    QVERIFY(!Model()->data(CellIndex(5, 1), Qt::BackgroundRole).isValid());
    QVERIFY(!Model()->headerData(1, Qt::Horizontal, Qt::BackgroundRole).isValid());
    QVERIFY(Model()->data(CellIndex(2, 1), FlexGridModel::kCurrentCellRole).toBool());
    QVERIFY(!Model()->data(CellIndex(4, 2), FlexGridModel::kCurrentCellRole).toBool());

    grid_->SetRowSel(0);  // the header row is part of the selection
    QCOMPARE(Model()->headerData(2, Qt::Horizontal, Qt::BackgroundRole).value<QBrush>().color(),
             palette.color(QPalette::Highlight));
    QVERIFY(!Model()->headerData(3, Qt::Horizontal, Qt::BackgroundRole).isValid());

    grid_->SetCellPicture(9);
    QCOMPARE(Model()->data(CellIndex(2, 1), FlexGridModel::kPictureRole).toInt(), 9);
    QCOMPARE(grid_->CellPicture(), 9);
  }

  void decodesCellBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ASCII") << QByteArray("Re: hello") << QString("Re: hello");
    QTest::newRow("UTF-8") << QByteArray("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC") << QString::fromUtf8("été €");
    QTest::newRow("UTF-8 four bytes") << QByteArray("\xF0\x9F\x98\x80") << QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("Latin-1") << QByteArray("\xE9t\xE9") << QString::fromUtf8("été");
    QTest::newRow("Windows-1252 high table")
        << QByteArray("\x80\x93x\x94\x85\x9F\x8A") << QString::fromUtf8("€“x”…ŸŠ");
    QTest::newRow("unassigned byte") << QByteArray("a\x81") << QString("a") + QChar(0x81);
    QTest::newRow("UTF-8 mixed with a lone byte")
        << QByteArray("\xC3\xA9\xE9") << QString::fromUtf8("Ã©é");
    QTest::newRow("overlong form") << QByteArray("\xC0\xAF") << QString::fromUtf8("À¯");
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << QString::fromUtf8("í\xC2\xA0€");
    QTest::newRow("cut short") << QByteArray("ab\xE2\x82") << QString::fromUtf8("abâ‚");
  }

  void decodesCellBytes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const std::string text = bytes.toStdString();
    grid_->SetTextMatrix(2, 3, text);
    grid_->SetTextMatrix(0, 3, text);
    QCOMPARE(Model()->data(CellIndex(2, 3)).toString(), shown);
    QCOMPARE(Model()->headerData(3, Qt::Horizontal).toString(), shown);
    QCOMPARE(grid_->TextMatrix(2, 3), text);  // the bytes stay as they were
  }

  void mouseSetsTheSelection_data() {
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<std::vector<std::int64_t>>("selection");  // Row, Col, RowSel, ColSel
    QTest::addColumn<std::vector<std::int64_t>>("last_down");  // button, MouseRow, MouseCol
    QTest::addColumn<int>("sel_changes");
    using V = std::vector<std::int64_t>;
    QTest::newRow("press") << "press 3 2" << V{3, 2, 3, 2} << V{1, 3, 2} << 1;
    QTest::newRow("shift press") << "press 2 1|shift 5 3" << V{2, 1, 5, 3} << V{1, 5, 3} << 2;
    QTest::newRow("drag") << "press 2 1|drag 4 3" << V{2, 1, 4, 3} << V{1, 2, 1} << 2;
    QTest::newRow("drag back up") << "press 5 3|drag 2 1" << V{5, 3, 2, 1} << V{1, 5, 3} << 2;
    QTest::newRow("header press") << "header 2" << V{0, 2, 0, 2} << V{1, 0, 2} << 1;
    QTest::newRow("header drag into cells") << "header 1|drag 4 3" << V{0, 1, 4, 3} << V{1, 0, 1} << 2;
    QTest::newRow("shift press on header") << "press 4 1|shiftheader 3" << V{4, 1, 0, 3} << V{1, 0, 3} << 2;
    QTest::newRow("right press keeps the selection") << "press 2 1|right 5 3" << V{2, 1, 2, 1} << V{2, 5, 3} << 1;
    QTest::newRow("press under the rows") << "below 2" << V{1, 1, 1, 1} << V{1, -1, 2} << 0;
  }

  void mouseSetsTheSelection() {
    QFETCH(QString, gesture);
    QFETCH(std::vector<std::int64_t>, selection);
    QFETCH(std::vector<std::int64_t>, last_down);
    QFETCH(int, sel_changes);
    QWidget* cells = grid_->viewport();
    QWidget* header = grid_->horizontalHeader()->viewport();
    QWidget* pressed = nullptr;  // where the left button is down: it gets the moves
    QPoint pressed_at;
    auto release = [&] {
      if (pressed != nullptr) QTest::mouseRelease(pressed, Qt::LeftButton, Qt::NoModifier, pressed_at);
      pressed = nullptr;
    };
    for (const QString& step : gesture.split('|')) {
      const QStringList w = step.split(' ');
      const QString& what = w[0];
      if (what != "drag") release();
      if (what == "press" || what == "shift") {
        pressed = cells;
        pressed_at = CellCentre(w[1].toInt(), w[2].toInt());
        QTest::mousePress(cells, Qt::LeftButton, what == "shift" ? Qt::ShiftModifier : Qt::NoModifier, pressed_at);
      } else if (what == "header" || what == "shiftheader") {
        pressed = header;
        pressed_at = HeaderCentre(w[1].toInt());
        QTest::mousePress(header, Qt::LeftButton, what == "header" ? Qt::NoModifier : Qt::ShiftModifier, pressed_at);
      } else if (what == "drag") {
        const QPoint to = pressed->mapFrom(grid_, cells->mapTo(grid_, CellCentre(w[1].toInt(), w[2].toInt())));
        QTest::mouseMove(pressed, to);
        pressed_at = to;
      } else if (what == "right") {
        QTest::mouseClick(cells, Qt::RightButton, Qt::NoModifier, CellCentre(w[1].toInt(), w[2].toInt()));
        continue;
      } else if (what == "below") {
        pressed = cells;
        pressed_at = QPoint(grid_->columnViewportPosition(w[1].toInt()) + 5, cells->height() - 3);
        QTest::mousePress(cells, Qt::LeftButton, Qt::NoModifier, pressed_at);
      }
    }
    release();

    QCOMPARE(Selection(), selection);
    QVERIFY(!downs_.empty());
    const MouseReport& down = downs_.back();
    QCOMPARE(std::vector<std::int64_t>({down.button, down.mouse_row, down.mouse_col}), last_down);
    QCOMPARE(sel_changes_, sel_changes);
  }

  void mousePositionsAreTwipsFromTheGridsCorner() {
    QCOMPARE(grid_->logicalDpiX(), 96);
    QCOMPARE(grid_->TwipsPerPixelX(), 15.0);
    QCOMPARE(grid_->TwipsPerPixelY(), 15.0);
    const QPoint at = CellCentre(2, 2);
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, at);
    const QPoint in_grid = grid_->viewport()->mapTo(grid_, at);
    QCOMPARE(downs_.size(), std::size_t{1});
    QCOMPARE(downs_[0].shift, 6);
    QCOMPARE(downs_[0].x, in_grid.x() * 15.0);
    QCOMPARE(downs_[0].y, in_grid.y() * 15.0);
  }

  void doubleClickSignalsInOrder() {
    QStringList order;
    QObject scope;
    connect(grid_, &MSFlexGrid::MouseDown, &scope, [&] { order << "down"; });
    connect(grid_, &MSFlexGrid::MouseUp, &scope, [&] { order << "up"; });
    connect(grid_, &MSFlexGrid::DblClick, &scope, [&] {
      order << QString("dbl %1 %2").arg(grid_->MouseRow()).arg(grid_->MouseCol());
    });
    // The second press of a double click reaches a widget as a press and then a double click.
    const QPoint at = CellCentre(4, 1);
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mousePress(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QCOMPARE(order, QStringList({"down", "up", "down", "dbl 4 1", "up"}));
  }

  void keyUpGivesVirtualKeyCodes_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("shift");
    QTest::newRow("Delete") << int(Qt::Key_Delete) << 0 << 46 << 0;
    QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << int(Qt::ShiftModifier) << 46 << 1;
    QTest::newRow("Ctrl+Return") << int(Qt::Key_Return) << int(Qt::ControlModifier) << 13 << 2;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 13 << 0;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << 0 << 27 << 0;
    QTest::newRow("Left") << int(Qt::Key_Left) << 0 << 37 << 0;
    QTest::newRow("Up") << int(Qt::Key_Up) << 0 << 38 << 0;
    QTest::newRow("Right") << int(Qt::Key_Right) << 0 << 39 << 0;
    QTest::newRow("Down") << int(Qt::Key_Down) << 0 << 40 << 0;
    QTest::newRow("A") << int(Qt::Key_A) << 0 << 65 << 0;
    QTest::newRow("Z") << int(Qt::Key_Z) << 0 << 90 << 0;
    QTest::newRow("Alt+F2") << int(Qt::Key_F2) << int(Qt::AltModifier) << 113 << 4;
  }

  void keyUpGivesVirtualKeyCodes() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, code);
    QFETCH(int, shift);
    QSignalSpy spy(grid_, &MSFlexGrid::KeyUp);
    QKeyEvent repeated(QEvent::KeyRelease, key, Qt::KeyboardModifiers(modifiers), QString(), true);
    QApplication::sendEvent(grid_, &repeated);  // a held key's repeats are not releases
    QCOMPARE(spy.count(), 0);
    QTest::keyRelease(grid_, Qt::Key(key), Qt::KeyboardModifiers(modifiers));  // then the modifiers' own releases
    QVERIFY(!spy.isEmpty());
    QCOMPARE(spy[0][0].toInt(), code);
    QCOMPARE(spy[0][1].toInt(), shift);
  }

  void keysMoveTheCurrentCell_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<std::vector<std::int64_t>>("selection");
    QTest::addColumn<int>("sel_changes");
    QTest::addColumn<bool>("handled");  // else the key goes on to the form
    using V = std::vector<std::int64_t>;
    // From Row 3, Col 1; column 2 is hidden.
    QTest::newRow("Down") << int(Qt::Key_Down) << 0 << V{4, 1, 4, 1} << 1 << true;
    QTest::newRow("Shift+Down") << int(Qt::Key_Down) << int(Qt::ShiftModifier) << V{3, 1, 4, 1} << 1 << true;
    QTest::newRow("Right skips the hidden column") << int(Qt::Key_Right) << 0 << V{3, 3, 3, 3} << 1 << true;
    QTest::newRow("Shift+Right") << int(Qt::Key_Right) << int(Qt::ShiftModifier) << V{3, 1, 3, 3} << 1 << true;
    QTest::newRow("Left stops at the number column") << int(Qt::Key_Left) << 0 << V{3, 1, 3, 1} << 0 << true;
    QTest::newRow("Home") << int(Qt::Key_Home) << 0 << V{1, 1, 1, 1} << 1 << true;
    QTest::newRow("Shift+End") << int(Qt::Key_End) << int(Qt::ShiftModifier) << V{3, 1, kRows, 1} << 1 << true;
    QTest::newRow("Page Down") << int(Qt::Key_PageDown) << 0 << V{kRows, 1, kRows, 1} << 1 << true;
    QTest::newRow("Ctrl+A is the form's") << int(Qt::Key_A) << int(Qt::ControlModifier) << V{3, 1, 3, 1} << 0 << false;
    QTest::newRow("Delete is the form's") << int(Qt::Key_Delete) << 0 << V{3, 1, 3, 1} << 0 << false;
  }

  void keysMoveTheCurrentCell() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(std::vector<std::int64_t>, selection);
    QFETCH(int, sel_changes);
    QFETCH(bool, handled);
    grid_->SetColWidth(2, 0);
    grid_->SetRow(3);
    grid_->SetCol(1);
    QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
    QApplication::sendEvent(grid_, &press);
    QCOMPARE(Selection(), selection);
    QCOMPARE(sel_changes_, sel_changes);
    QCOMPARE(press.isAccepted(), handled);
  }

  void columnWidthsAreTwips() {
    grid_->SetColWidth(1, 1500);
    grid_->SetColWidth(2, 0);
    QCOMPARE(grid_->columnWidth(1), 100);
    QVERIFY(grid_->isColumnHidden(2));
    grid_->SetColWidth(2, 900);
    QVERIFY(!grid_->isColumnHidden(2));
    QCOMPARE(grid_->columnWidth(2), 60);
    QCOMPARE(grid_->ColWidth(2), 900);

    grid_->horizontalHeader()->resizeSection(3, 90);  // as the user drags a border
    QCOMPARE(grid_->ColWidth(3), 1350);

    grid_->SetColWidth(1, 0);
    grid_->Refresh();
    grid_->Sort(1);
    QVERIFY(grid_->isColumnHidden(1));
    QCOMPARE(grid_->columnWidth(2), 60);
    QCOMPARE(grid_->ColWidth(2), 900);
  }

  void cellRectangleCoversTheCurrentCell_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("col");
    QTest::addColumn<bool>("scrolled");
    QTest::newRow("cell") << 3 << 2 << false;
    QTest::newRow("header") << 0 << 1 << false;
    QTest::newRow("cell after scrolling") << 150 << 3 << true;
  }

  void cellRectangleCoversTheCurrentCell() {
    QFETCH(int, row);
    QFETCH(int, col);
    QFETCH(bool, scrolled);
    if (scrolled) {
      for (int i = 0; i < 200; ++i) grid_->AddItem(std::to_string(kRows + 1 + i));
      grid_->SetColWidth(0, 6000);
      QCoreApplication::processEvents();  // the view lays out its new rows
    }
    grid_->SetRow(row);
    grid_->SetCol(col);
    if (scrolled) {
      grid_->scrollTo(CellIndex(row, col));
      QVERIFY(grid_->verticalScrollBar()->value() > 0 && grid_->horizontalScrollBar()->value() > 0);
    }
    // An edit box placed from the twips, as the form places it.
    const QRect placed(grid_->CellLeft() / 15, grid_->CellTop() / 15, grid_->CellWidth() / 15, grid_->CellHeight() / 15);
    QCOMPARE(grid_->CellWidth(), grid_->ColWidth(col));
    QRect expected;  // the cell as the view paints it, and the grid line right and below it
    if (row == 0) {
      QHeaderView* header = grid_->horizontalHeader();
      expected = QRect(header->mapTo(grid_, QPoint(header->sectionViewportPosition(col), 0)),
                       QSize(header->sectionSize(col), header->height()));
    } else {
      const QRect cell = grid_->visualRect(CellIndex(row, col));
      expected = QRect(grid_->viewport()->mapTo(grid_, cell.topLeft()), cell.size() + QSize(1, 1));
    }
    QCOMPARE(placed, expected);
  }

  void syncRowsShowsAppendedRowsInOneInsertion() {
    QSignalSpy inserted(Model(), &QAbstractItemModel::rowsInserted);
    GridData& data = grid_->Data();
    for (int i = 0; i < 100000; ++i) {
      data.AddItem(std::to_string(data.Rows()));
      data.SetTextMatrix(data.Rows() - 1, 3, "Subject " + std::to_string(i));
    }
    QCOMPARE(Model()->rowCount(), kRows);  // nothing reaches the view before the sync
    grid_->SyncRows();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted[0][1].toInt(), kRows);
    QCOMPARE(inserted[0][2].toInt(), kRows + 100000 - 1);
    QCOMPARE(Model()->rowCount(), kRows + 100000);
    QCOMPARE(grid_->verticalHeader()->count(), kRows + 100000);

    grid_->SyncRows();
    QCOMPARE(inserted.count(), 1);  // nothing new, no notification
    data.AddItem("x");
    grid_->SyncRows();
    QCOMPARE(inserted.count(), 2);
    grid_->scrollToBottom();
    const int last_y = grid_->rowViewportPosition(Model()->rowCount() - 1);
    QVERIFY(last_y >= 0 && last_y < grid_->viewport()->height());
    QCOMPARE(Model()->data(CellIndex(data.Rows() - 2, 3)).toString(), QString("Subject 99999"));
  }

  void contractMethodsNotifyTheViewNarrowly() {
    QSignalSpy changed(Model(), &QAbstractItemModel::dataChanged);
    QSignalSpy header_changed(Model(), &QAbstractItemModel::headerDataChanged);
    QSignalSpy removed(Model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(Model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(Model(), &QAbstractItemModel::modelReset);

    grid_->SetTextMatrix(5, 3, "new subject");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), CellIndex(5, 3));
    QCOMPARE(changed[0][1].toModelIndex(), CellIndex(5, 3));
    grid_->SetTextMatrix(0, 2, "Bytes: ");
    QCOMPARE(header_changed.count(), 1);

    grid_->RemoveItem(3);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed[0][1].toInt(), 2);
    QCOMPARE(removed[0][2].toInt(), 2);
    QCOMPARE(Model()->rowCount(), kRows - 1);
    QCOMPARE(Model()->data(CellIndex(3, 1)).toString(), QString("m4.q0"));

    grid_->AddItem("9");
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(Model()->rowCount(), kRows);

    grid_->SetRows(3);
    QCOMPARE(removed.count(), 2);
    QCOMPARE(removed[1][1].toInt(), 2);
    QCOMPARE(Model()->rowCount(), 2);
    QCOMPARE(reset.count(), 0);

    grid_->Sort(2);
    grid_->Clear();
    QCOMPARE(reset.count(), 2);
    QCOMPARE(Model()->rowCount(), 2);
    QCOMPARE(Model()->data(CellIndex(1, 1)).toString(), QString());
  }

  void pictureSitsAtTheRightEdgeOverTheText() {
    QPixmap red(10, 10);
    red.fill(Qt::red);
    grid_->RegisterPicture(1, QIcon(red));
    grid_->SetTextMatrix(2, 3, "text");
    grid_->SetRow(2);
    grid_->SetCol(3);
    grid_->SetCellPicture(1);
    grid_->SetRow(6);  // keep the selection colours off the measured cell
    QCOMPARE(grid_->TextMatrix(2, 3), std::string("text"));

    const QImage shot = grid_->viewport()->grab().toImage();
    const QRect cell = grid_->visualRect(CellIndex(2, 3));
    const int mid = cell.center().y();
    QCOMPARE(QColor(shot.pixel(cell.right() - 6, mid)), QColor(Qt::red));
    QVERIFY(QColor(shot.pixel(cell.right() - 6, cell.top() + 1)) != QColor(Qt::red));  // centred, not at the top
    QVERIFY(QColor(shot.pixel(cell.left() + 6, mid)) != QColor(Qt::red));
    QVERIFY(QColor(shot.pixel(cell.right() - 20, mid)) != QColor(Qt::red));
  }

  void fontIsTheFixedWidthGridFont() { QCOMPARE(grid_->FontSize(), 8.25); }
};

QTEST_MAIN(MSFlexGridTest)
#include "MSFlexGridTest.moc"
