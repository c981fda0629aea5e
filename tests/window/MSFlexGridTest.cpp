#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "window/FlexGridModel.h"
#include "window/MSFlexGrid.h"

using Longs = std::vector<std::int64_t>;
constexpr int kCols = 4;
constexpr int kRows = 8;  // non-fixed rows, leaving empty space under them

class MSFlexGridTest : public QObject {
  Q_OBJECT
  std::unique_ptr<MSFlexGrid> grid_;
  Longs last_down_;  // button, shift, x, y, MouseRow, MouseCol as a MouseDown handler saw them
  int sel_changes_ = 0;

  QAbstractItemModel* Model() const { return grid_->model(); }
  QModelIndex Index(std::int64_t row, int col) const { return Model()->index(int(row - 1), col); }
  QPoint CellCentre(std::int64_t row, int col) const { return grid_->visualRect(Index(row, col)).center(); }
  Longs Selection() const { return {grid_->Row(), grid_->Col(), grid_->RowSel(), grid_->ColSel()}; }

 private slots:
  void init() {
    grid_ = std::make_unique<MSFlexGrid>(kCols);
    grid_->resize(420, 320);
    // Built a character at a time: GCC 12 at -O3 sees a false -Wrestrict in "H" + std::to_string(c).
    for (int c = 0; c < kCols; ++c) grid_->SetTextMatrix(0, c, {'H', static_cast<char>('0' + c)});
    grid_->SetRows(1 + kRows);
    for (int r = 1; r <= kRows; ++r) grid_->SetTextMatrix(r, 1, {'m', static_cast<char>('0' + r)});
    for (int c = 0; c < kCols; ++c) grid_->SetColWidth(c, 1200);
    sel_changes_ = 0;
    connect(grid_.get(), &MSFlexGrid::MouseDown, this, [this](int button, int shift, double x, double y) {
      last_down_ = {button, shift, std::int64_t(x), std::int64_t(y), grid_->MouseRow(), grid_->MouseCol()};
    });
    connect(grid_.get(), &MSFlexGrid::SelChange, this, [this] { ++sel_changes_; });
    grid_->show();
    QVERIFY(QTest::qWaitForWindowExposed(grid_.get()));
  }
  void cleanup() { grid_.reset(); }

  void decodesCellBytes() {
    const std::pair<QByteArray, QString> cases[] = {
        {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", QString::fromUtf8("été € \xF0\x9F\x98\x80")},  // UTF-8
        {"\xE9t\xE9 \x80\x93x\x94\x85\x9F\x8A", QString::fromUtf8("été €“x”…ŸŠ")},  // 1252
        {"a\x81", QString("a") + QChar(0x81)},  // unassigned in 1252
        {"\xC3\xA9\xE9", QString::fromUtf8("Ã©é")},  // UTF-8 and a lone byte
        {"\xC0\xAF", QString::fromUtf8("À¯")},  // overlong
        {"\xED\xA0\x80", QString::fromUtf8("í\xC2\xA0€")},  // surrogate
        {"ab\xE2\x82", QString::fromUtf8("abâ‚")},  // cut short
    };
    for (const auto& [bytes, shown] : cases) {
      grid_->SetTextMatrix(2, 3, bytes.toStdString());
      grid_->SetTextMatrix(0, 3, bytes.toStdString());
      QCOMPARE(Model()->data(Index(2, 3)).toString(), shown);
      QCOMPARE(Model()->headerData(3, Qt::Horizontal).toString(), shown);
      QCOMPARE(grid_->TextMatrix(2, 3), bytes.toStdString());  // the bytes stay as they were
    }
  }

  void mouseSetsTheSelection_data() {
    QTest::addColumn<QString>("gesture");  // steps: what, row, col; drags keep the button down
    QTest::addColumn<Longs>("selection");  // Row, Col, RowSel, ColSel
    QTest::addColumn<Longs>("down");       // last MouseDown: button, MouseRow, MouseCol
    QTest::addColumn<int>("sel_changes");
    QTest::newRow("press") << "press 3 2" << Longs{3, 2, 3, 2} << Longs{1, 3, 2} << 1;
    QTest::newRow("shift press") << "press 2 1|shift 5 3" << Longs{2, 1, 5, 3} << Longs{1, 5, 3} << 2;
    QTest::newRow("drag") << "press 2 1|drag 4 3" << Longs{2, 1, 4, 3} << Longs{1, 2, 1} << 2;
    QTest::newRow("drag up") << "press 5 3|drag 2 1" << Longs{5, 3, 2, 1} << Longs{1, 5, 3} << 2;
    QTest::newRow("header") << "press 0 2" << Longs{0, 2, 0, 2} << Longs{1, 0, 2} << 1;
    QTest::newRow("header drag into cells") << "press 0 1|drag 4 3" << Longs{0, 1, 4, 3} << Longs{1, 0, 1} << 2;
    QTest::newRow("shift header") << "press 4 1|shift 0 3" << Longs{4, 1, 0, 3} << Longs{1, 0, 3} << 2;
    QTest::newRow("right keeps selection") << "press 2 1|right 5 3" << Longs{2, 1, 2, 1} << Longs{2, 5, 3} << 1;
    QTest::newRow("under the rows") << "press 99 2" << Longs{1, 1, 1, 1} << Longs{1, -1, 2} << 0;
  }
  void mouseSetsTheSelection() {
    QFETCH(QString, gesture);
    QFETCH(Longs, selection);
    QFETCH(Longs, down);
    QFETCH(int, sel_changes);
    QWidget* held = nullptr;  // where the left button is down: it gets the moves
    QPoint at;
    auto release = [&] {
      if (held != nullptr) QTest::mouseRelease(held, Qt::LeftButton, {}, at);
      held = nullptr;
    };
    for (const QString& step : gesture.split('|')) {
      const QStringList w = step.split(' ');
      const int row = w[1].toInt(), col = w[2].toInt();
      QHeaderView* header = grid_->horizontalHeader();
      QWidget* target = row == 0 ? header->viewport() : grid_->viewport();
      QPoint point = row == 0    ? QPoint(header->sectionViewportPosition(col) + 20, header->height() / 2)
                     : row == 99 ? QPoint(grid_->columnViewportPosition(col) + 5, target->height() - 3)
                                 : CellCentre(row, col);
      if (w[0] == "drag") {
        at = held->mapFrom(grid_.get(), target->mapTo(grid_.get(), point));
        QTest::mouseMove(held, at);
        continue;
      }
      release();
      if (w[0] == "right") {
        QTest::mouseClick(target, Qt::RightButton, {}, point);
        continue;
      }
      held = target;
      at = point;
      QTest::mousePress(target, Qt::LeftButton, w[0] == "shift" ? Qt::ShiftModifier : Qt::NoModifier, point);
    }
    release();
    QCOMPARE(Selection(), selection);
    QCOMPARE(Longs({last_down_[0], last_down_[4], last_down_[5]}), down);
    QCOMPARE(sel_changes_, sel_changes);
  }

  void dragOutsideTheCellsTakesTheNearestCellAndScrolls() {
    for (int i = 0; i < 100; ++i) grid_->AddItem(std::to_string(kRows + 1 + i));
    QCoreApplication::processEvents();
    QWidget* cells = grid_->viewport();
    const int last_visible = grid_->rowAt(cells->height() - 1);    // model row, partly shown
    const QPoint below(cells->width() - 2, cells->height() + 30);  // under the grid, right of the columns
    QTest::mousePress(cells, Qt::LeftButton, {}, CellCentre(2, 1));
    QTest::mouseMove(cells, below);
    QCOMPARE(Selection(), Longs({2, 1, last_visible + 2, kCols - 1}));  // one row past the visible ones
    QVERIFY(grid_->verticalScrollBar()->value() > 0);
    QCOMPARE(Longs({grid_->MouseRow(), grid_->MouseCol()}), Longs({-1, -1}));
    QTest::mouseRelease(cells, Qt::LeftButton, {}, below);
  }

  void twipsForPositionsWidthsAndTheCurrentCell() {
    const QPoint at = CellCentre(2, 2), in_grid = grid_->viewport()->mapTo(grid_.get(), at);
    QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, at);
    QCOMPARE(Longs(last_down_.begin() + 1, last_down_.begin() + 4), Longs({6, in_grid.x() * 15, in_grid.y() * 15}));

    grid_->SetColWidth(1, 1500);
    grid_->SetColWidth(2, 0);
    QCOMPARE(std::pair(grid_->columnWidth(1), grid_->isColumnHidden(2)), std::pair(100, true));
    grid_->SetColWidth(2, 900);
    QCOMPARE(std::pair(grid_->isColumnHidden(2), grid_->columnWidth(2)), std::pair(false, 60));
    grid_->horizontalHeader()->resizeSection(3, 90);  // as the user drags a border
    QCOMPARE(grid_->ColWidth(3), 1350);
    grid_->SetColWidth(1, 0);
    grid_->Sort(1);  // the view is reset: hidden and sized columns stay so
    QCOMPARE(std::tuple(grid_->isColumnHidden(1), grid_->columnWidth(2), grid_->ColWidth(2)),
             std::tuple(true, 60, 900));
  }

  void cellRectangleCoversTheCurrentCell() {
    for (auto [row, col] : {std::pair{3, 2}, {0, 1}, {150, 3}}) {  // a cell, a header cell, a cell after scrolling
      for (int i = kRows; i < row; ++i) grid_->AddItem(std::to_string(i + 1));
      if (row > kRows) {
        grid_->SetColWidth(0, 6000);
        QCoreApplication::processEvents();  // the view lays out its new rows
        grid_->scrollTo(Index(row, col));
        QVERIFY(grid_->verticalScrollBar()->value() > 0 && grid_->horizontalScrollBar()->value() > 0);
      }
      grid_->SetRow(row);
      grid_->SetCol(col);
      // An edit box placed from the twips covers the cell as the view paints it and the grid line right and below.
      const QRect placed(grid_->CellLeft() / 15, grid_->CellTop() / 15, grid_->CellWidth() / 15,
                         grid_->CellHeight() / 15);
      QHeaderView* header = grid_->horizontalHeader();
      const QRect cell = grid_->visualRect(Index(row, col));
      const QRect expected =
          row == 0 ? QRect(header->mapTo(grid_.get(), QPoint(header->sectionViewportPosition(col), 0)),
                           QSize(header->sectionSize(col), header->height()))
                   : QRect(grid_->viewport()->mapTo(grid_.get(), cell.topLeft()), cell.size() + QSize(1, 1));
      QCOMPARE(placed, expected);
    }
  }

  void keysReachTheGridOrTheForm() {
    grid_->SetColWidth(2, 0);
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::ShiftModifier),
        all(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
    QApplication::sendEvent(grid_.get(), &right);  // over the hidden column
    QApplication::sendEvent(grid_.get(), &all);    // the form's menu has Ctrl+A
    QCOMPARE(std::tuple(Selection(), sel_changes_, all.isAccepted()), std::tuple(Longs{1, 1, 1, 3}, 1, false));

    // The key and its modifiers; the key code and the shift mask KeyUp gives.
    const std::tuple<Qt::Key, Qt::KeyboardModifiers, int, int> keys[] = {
        {Qt::Key_Delete, Qt::ShiftModifier, 46, 1}, {Qt::Key_Return, Qt::ControlModifier, 13, 2},
        {Qt::Key_Enter, {}, 13, 0}, {Qt::Key_Escape, {}, 27, 0}, {Qt::Key_Left, {}, 37, 0}, {Qt::Key_Down, {}, 40, 0},
        {Qt::Key_Z, {}, 90, 0},     {Qt::Key_F2, Qt::AltModifier, 113, 4}};
    for (auto [key, modifiers, code, shift] : keys) {
      QSignalSpy spy(grid_.get(), &MSFlexGrid::KeyUp);
      QKeyEvent repeated(QEvent::KeyRelease, key, modifiers, QString(), true);
      QApplication::sendEvent(grid_.get(), &repeated);  // a held key's repeats are not releases
      QTest::keyRelease(grid_.get(), key, modifiers);   // then the modifiers' own releases follow
      QVERIFY(!spy.isEmpty());
      QCOMPARE(Longs({spy[0][0].toInt(), spy[0][1].toInt()}), Longs({code, shift}));
    }
  }

  // Removing rows and clearing keep the view on the data.
  void viewFollowsRemovedRowsAndClear() {
    grid_->RemoveItem(3);
    QCOMPARE(Model()->data(Index(3, 1)).toString(), QString("m4"));
    grid_->SetRows(3);
    QCOMPARE(Model()->rowCount(), 2);
    grid_->Clear();
    QCOMPARE(Model()->data(Index(1, 1)).toString(), QString());
  }

  // What the view paints: a cell's picture at its right edge over the text;
  // the selected block highlighted, the header cells too where the selection
  // reaches up into them; the fixed column grey.
  void paintsPicturesAndTheSelection() {
    QPixmap red(10, 10);
    red.fill(Qt::red);
    grid_->RegisterPicture(1, QIcon(red));
    grid_->SetRow(2);
    grid_->SetCol(3);
    grid_->SetCellPicture(1);
    grid_->SetRow(5);
    grid_->SetCol(1);
    grid_->SetRowSel(0);
    grid_->SetColSel(2);
    const QImage shot = grid_->viewport()->grab().toImage();
    auto colour = [&](std::int64_t row, int col, int dx = 0, int dy = 0) {
      const QRect cell = grid_->visualRect(Index(row, col));
      return QColor(shot.pixel(cell.center().x() + dx, cell.center().y() + dy));
    };
    const int right = grid_->visualRect(Index(2, 3)).width() / 2 - 6, up = 1 - grid_->rowHeight(1) / 2;
    QCOMPARE(colour(2, 3, right), QColor(Qt::red));
    QVERIFY(colour(2, 3, right, up) != QColor(Qt::red));  // centred, not at the top
    QVERIFY(colour(2, 3, -right) != QColor(Qt::red));
    const QColor highlight = grid_->palette().color(QPalette::Highlight);
    QCOMPARE(colour(3, 2), highlight);
    QVERIFY(colour(6, 2) != highlight && colour(3, 3) != highlight);
    QCOMPARE(colour(3, 0), grid_->palette().color(QPalette::Button));
    const QImage header = grid_->horizontalHeader()->viewport()->grab().toImage();
    auto header_colour = [&](int col) {
      QHeaderView* h = grid_->horizontalHeader();
      return QColor(header.pixel(h->sectionViewportPosition(col) + h->sectionSize(col) - 5, h->height() / 2));
    };
    QVERIFY(header_colour(2) != header_colour(3));
  }
};

QTEST_MAIN(MSFlexGridTest)
#include "MSFlexGridTest.moc"
