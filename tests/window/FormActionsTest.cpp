// The window at work on real queue folders: the message actions on blocks
// of rows, what they leave on disk, sorting from the header, selection,
// editing a cell in place, and the navigation cross.
#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <filesystem>

#include "tests/window/FormTestSupport.h"

namespace {

using test_support::ListNames;
using test_support::ReadFile;
using test_support::WriteFile;

const std::string kHeader = "Q 1 smtp\r\n12/06/26 14:03:22\r\nFrom: a@x\r\nSubject: s\r\n\r\n";

}  // namespace

class FormActionsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<form_test::Installation> inst;
  std::unique_ptr<frm_Qvue> form;
  std::string wait, errors, mailout;

  MSFlexGrid* Grid() { return form->Grid(); }
  std::vector<std::string> Names() { return form_test::Names(Grid()); }
  std::vector<std::int64_t> Corners() { return {Grid()->Row(), Grid()->RowSel(), Grid()->Col(), Grid()->ColSel()}; }
  void Select(std::int64_t row, std::int64_t row_sel, int col = 1, int col_sel = 1) {
    form_test::Select(Grid(), row, row_sel, col, col_sel);
  }
  // Sorts by file name so that tests can name rows by position.
  void SortByName() { Select(0, 0, 1, 1), form->MnuPOPHSortA_Click(); }
  QPoint HeaderPoint(int col) {
    QHeaderView* header = Grid()->horizontalHeader();
    return QPoint(header->sectionViewportPosition(col) + header->sectionSize(col) / 2, header->height() / 2);
  }
  void Pair(const std::string& folder, const std::string& stem, const std::string& q0 = kHeader) {
    WriteFile(folder + "/" + stem + ".q0", q0);
    WriteFile(folder + "/" + stem + ".q1", "body\r\n");
  }

 private slots:
  void init() {
    inst = std::make_unique<form_test::Installation>();
    mailout = inst->root1 + "/Mail/Mailout";
    wait = mailout + "/Wait";
    errors = mailout + "/Errors";
    for (const char* stem : {"a", "b", "c", "d"}) Pair(wait, stem);
    form = inst->Open();
    SortByName();
  }
  void cleanup() { form.reset(), inst.reset(); }

  void removingActionsTakeTheSelectedRowsOut() {
    std::string number_of_d = Grid()->TextMatrix(4, 0);
    Select(0, 2, 1, 4);  // from the header row: the header is never acted on
    QTest::mouseClick(form->cmd_ERRORE, Qt::LeftButton);
    QCOMPARE(ListNames(errors), std::string("a.q0 a.q1 b.q0 b.q1"));
    QCOMPARE(Names(), (std::vector<std::string>{"c.q0", "d.q0"}));
    QCOMPARE(Grid()->TextMatrix(2, 0), number_of_d);  // no renumbering
    QCOMPARE(Corners(), (std::vector<std::int64_t>{0, 0, 0, 0}));

    Select(0, 0);  // the header row alone acts on nothing
    form->MnuPOPBDelete_Click();
    QCOMPARE(Names().size(), std::size_t{2});

    Select(1, 2);  // every row, by the Delete key: the last is reset, never deleted
    QTest::keyClick(Grid(), Qt::Key_Delete);
    QCOMPARE(ListNames(wait), std::string(""));
    QCOMPARE(Grid()->Rows(), std::int64_t{2});
    QCOMPARE(Grid()->TextMatrix(1, 0), std::string("001"));
    QCOMPARE(Grid()->TextMatrix(1, 1), std::string(""));
  }

  // "Decoded Headers" changes what the header cells show, and back, without
  // a load; the selection stays, and the rows keep their own files.
  void decodedHeadersSwitchTheShownTextsOnly() {
    const std::string raw = "=?ISO-8859-1?Q?=FCber?= dich", decoded = "\xC3\xBC" "ber dich";
    Pair(wait, "e", "Q 1 smtp\r\n12/06/26 14:03:22\r\nFrom: a@x\r\nSubject: " + raw + "\r\n\r\n");
    form->cmd_GO_Click();
    SortByName();
    const int loads = form->LoadCount();
    Select(5, 3, 4, 2);
    form->MnuSViewDecoded->trigger();
    QCOMPARE(Grid()->TextMatrix(5, 4) + "|" + Grid()->TextMatrix(5, 1) + "|" + Grid()->TextMatrix(1, 4),
             decoded + "|e.q0|s");
    QCOMPARE(Corners(), (std::vector<std::int64_t>{5, 3, 4, 2}));
    Select(5, 5, 4, 4);
    form->BeginCellEdit();  // the edit box gets the text shown
    QCOMPARE(form->txt_WWW->text().toStdString(), decoded);
    form->txt_WWW_KeyPress(27);
    form->MnuSViewDecoded->trigger();
    QCOMPARE(Grid()->TextMatrix(5, 4), raw);
    QCOMPARE(form->LoadCount(), loads);

    // Decoded again, reloaded (the rows come in decoded) and sorted by the
    // shown subject: after "s" as shown (raw, "=" would come first), and the
    // row moves its own file.
    form->MnuSViewDecoded->trigger();
    form->cmd_GO_Click();
    Select(0, 0, 4, 4);
    form->MnuPOPHSortA_Click();
    QCOMPARE(Grid()->TextMatrix(5, 4), decoded);
    Select(5, 5);
    form->MnuPOPBErrore_Click();
    QCOMPARE(ListNames(errors), std::string("e.q0 e.q1"));
  }

  // An edited file-name cell that is empty or no plain name addresses nothing: no
  // file inside or outside the listed folder changes, no editor starts, and
  // the row stays as after a failed move.
  void fileNameCellsThatAreNoPlainNameActOnNothing() {
    Pair(mailout, "x");  // outside Wait, reached by "../x.q0"
    std::filesystem::create_directory(wait + "/sub.q0");
    const std::string tree = ListNames(mailout) + "|" + ListNames(wait) + "|" + ListNames(errors);
    for (const char* name : {"", "../x.q0", "..", ".", "sub.q0/../a.q0", "/x.q0", "a.q0/"}) {
      for (auto handler : {&frm_Qvue::MnuPOPBDelete_Click, &frm_Qvue::MnuPOPBErrore_Click, &frm_Qvue::MnuPOPBHold_Click,
                           &frm_Qvue::MnuPOPBRelease_Click, &frm_Qvue::MnuPOPBSalvage_Click,
                           &frm_Qvue::MnuPOPBMagic1_Click, &frm_Qvue::MnuPOPBMagic2_Click}) {
        Grid()->SetTextMatrix(1, 1, name);
        Select(1, 1);
        (form.get()->*handler)();
        QCOMPARE(Names(), (std::vector<std::string>{name, "b.q0", "c.q0", "d.q0"}));
      }
    }
    QCOMPARE(ListNames(mailout) + "|" + ListNames(wait) + "|" + ListNames(errors), tree);
    QCOMPARE(ReadFile(mailout + "/x.q0"), kHeader);
    QCOMPARE(ReadFile(wait + "/a.q0"), kHeader);
    QVERIFY(inst->launcher.started.empty());
    Grid()->SetTextMatrix(1, 1, "b.q0");  // a plain name: the row acts on the file it now names
    form->MnuPOPBDelete_Click();
    QCOMPARE(ListNames(wait), std::string("a.q0 a.q1 c.q0 c.q1 d.q0 d.q1 sub.q0/"));
  }

  void flagsVisitsAndTheirSelection() {
    auto flags = [this] {
      std::string marks;
      for (std::int64_t r = 1; r < Grid()->Rows(); ++r)
        marks += Grid()->Data().CellPicture(r, 3) == frm_Qvue::kFlagMark ? 'F' : '-';
      return marks;
    };
    Select(3, 1, 4, 2);  // a block given from its lower corner
    form->cmd_FLAG_Click();
    QCOMPARE(flags(), std::string("FFF-"));
    QCOMPARE(Grid()->TextMatrix(1, 3), std::string(""));  // the text is untouched
    QCOMPARE(Corners(), (std::vector<std::int64_t>{1, 3, 2, 4}));
    Select(2, 4);
    form->cmd_UNFLAG_Click();
    QCOMPARE(flags(), std::string("F---"));

    Select(1, 2);
    form->cmd_MAGIC1_Click();
    form->cmd_MAGIC2_Click();
    QCOMPARE(inst->launcher.started, (std::vector<std::string>{
                                         "EditPad.exe " + wait + "/a.q0", "EditPad.exe " + wait + "/b.q0",
                                         "EditPad.exe " + wait + "/a.q0", "EditPad.exe " + wait + "/a.q1",
                                         "EditPad.exe " + wait + "/b.q0", "EditPad.exe " + wait + "/b.q1"}));
  }

  // A click on a header sorts by its column, ascending first, and marks the
  // column; a reload forgets the sort.
  void headerClicksSortAndMarkTheColumn() {
    auto click = [this](Qt::MouseButton button, int col) {
      QTest::mouseClick(Grid()->horizontalHeader()->viewport(), button, {}, HeaderPoint(col));
      return Grid()->TextMatrix(0, 1) + "|" + Grid()->TextMatrix(0, 2) + "|" + Names().front();
    };
    QCOMPARE(click(Qt::LeftButton, 2), std::string("File Name |Size:+|a.q0"));
    QCOMPARE(click(Qt::LeftButton, 1), std::string("File Name+|Size: |a.q0"));
    QCOMPARE(click(Qt::LeftButton, 1), std::string("File Name-|Size: |d.q0"));
    QCOMPARE(click(Qt::LeftButton, 1), std::string("File Name+|Size: |a.q0"));
    click(Qt::RightButton, 2);
    QVERIFY(form->MnuPOPH->isVisible());
    form->MnuPOPH->hide();
    QCOMPARE(Grid()->Col(), 2);
    form->MnuPOPHSortD->trigger();
    QCOMPARE(Grid()->TextMatrix(0, 2), std::string("Size:-"));
    form->cmd_GO_Click();
    QCOMPARE(Grid()->TextMatrix(0, 2), std::string("Size: "));
  }

  void selectAllAndAClickCountTheSelection() {
    form->MnuPOPBSelectAll->trigger();
    QCOMPARE(form->txt_NbSelV->text(), QString("4"));
    QCOMPARE(form->txt_NbSelH->text(), QString("8"));
    QRect cell = Grid()->visualRect(Grid()->model()->index(1, 4));
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(form->txt_NbSelV->text(), QString("1"));
  }

  // The Body menu acts on the row pointed at, or on the block that row is in.
  void rightClickActsOnTheRowPointedAt() {
    // The row pointed at and the rows left: outside the block a-b, d alone; inside it, the block.
    for (auto [pointed, left] : {std::pair<int, std::vector<std::string>>{4, {"a.q0", "b.q0", "c.q0"}}, {2, {"c.q0"}}}) {
      Select(1, 2, 4, 4);
      QRect cell = Grid()->visualRect(Grid()->model()->index(pointed - 1, 5));
      QTest::mouseClick(Grid()->viewport(), Qt::RightButton, {}, cell.center());
      QVERIFY(form->MnuPOPB->isVisible());
      form->MnuPOPB->hide();
      QCOMPARE(Grid()->Col(), 4);  // the column is kept
      form->MnuPOPBDelete->trigger();
      QCOMPARE(Names(), left);
    }
    QCOMPARE(ListNames(wait), std::string("c.q0 c.q1"));
  }

  // GO turns bold while others changed the listed folder; our own moves
  // do not raise it, and a load clears it.
  void goShowsThatOthersChangedTheFolder() {
    for (const char* stem : {"m1", "m2"}) Pair(mailout, stem);
    QTest::mouseClick(form->Option3[1], Qt::LeftButton);  // Mailout itself
    QCOMPARE(Names().size(), std::size_t{2});
    Select(1, 1);
    form->MnuPOPBHold_Click();
    QCOMPARE(Names().size(), std::size_t{1});
    QTest::qWait(1000);  // the watcher's news of our own move arrives meanwhile
    QVERIFY(!form->cmd_GO->font().bold());

    WriteFile(mailout + "/new.q0", kHeader);  // another program's file
    QTRY_VERIFY_WITH_TIMEOUT(form->cmd_GO->font().bold(), 2000);
    QCOMPARE(form->cmd_GO->toolTip(), QString("The folder changed since it was listed: press GO to reload"));
    QTest::mouseClick(form->cmd_GO, Qt::LeftButton);
    QCOMPARE(Names().size(), std::size_t{2});
    QTest::qWait(1000);
    QVERIFY(!form->cmd_GO->font().bold());
    QCOMPARE(form->cmd_GO->toolTip(), QString("Forces Reloading of Grid"));
  }

  // The edit box opens on the cell's text; Enter writes it back, Escape and
  // a click elsewhere drop it.
  void editingACellCommitsOnEnterOnly() {
    form->show();
    Select(2, 2, 4, 4);
    for (auto [text, key] : {std::pair{"new subject \xC3\xA9", Qt::Key_Return}, {"dropped", Qt::Key_Escape},
                             {"dropped too", Qt::Key_unknown}}) {
      form->MSFlexGrid1_DblClick();
      QVERIFY(form->txt_WWW->isVisible());
      QCOMPARE(form->txt_WWW->text().toStdString(), Grid()->TextMatrix(2, 4));
      form->txt_WWW->selectAll();
      for (QChar c : QString::fromUtf8(text)) {  // typed, as the operator does
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(form->txt_WWW, &press);
      }
      if (key == Qt::Key_unknown) form->txt_WWW_LostFocus(); else QTest::keyClick(form->txt_WWW, key);
      QVERIFY(!form->txt_WWW->isVisible());
      QCOMPARE(Grid()->TextMatrix(2, 4), std::string("new subject \xC3\xA9"));
    }

    Select(2, 2, 3, 3);  // "FA ": opens the message, no edit box
    form->MSFlexGrid1_DblClick();
    Select(2, 2, 0, 0);
    form->MSFlexGrid1_DblClick();
    Select(0, 0, 4, 4);
    form->MSFlexGrid1_DblClick();  // the header row: nothing
    QVERIFY(!form->txt_WWW->isVisible());
    QCOMPARE(inst->launcher.started,
             (std::vector<std::string>{"EditPad.exe " + wait + "/b.q0", "EditPad.exe " + wait + "/b.q0"}));
  }

  void theNavigationCrossStopsAtEveryEdge() {
    Select(3, 3, 5, 5);
    // The button, then the row and column of the current cell.
    const std::tuple<QPushButton* frm_Qvue::*, std::int64_t, int> steps[] = {
        {&frm_Qvue::cmd_HO, 0, 0}, {&frm_Qvue::cmd_UP, 0, 0}, {&frm_Qvue::cmd_LT, 0, 0},  // nothing from (0, 0)
        {&frm_Qvue::cmd_DN, 1, 0}, {&frm_Qvue::cmd_RT, 1, 1},
        {&frm_Qvue::cmd_UP, 1, 1},  // row 1: never into the header row
        {&frm_Qvue::cmd_LT, 1, 1},  // column 1: never into column 0
        {&frm_Qvue::cmd_DN, 2, 1}, {&frm_Qvue::cmd_DN, 3, 1}, {&frm_Qvue::cmd_DN, 4, 1},
        {&frm_Qvue::cmd_DN, 4, 1},  // the last row
    };
    for (auto [button, row, col] : steps) {
      QTest::mouseClick(form.get()->*button, Qt::LeftButton);
      QCOMPARE(Corners(), (std::vector<std::int64_t>{row, row, col, col}));
    }
    for (int i = 0; i < 10; ++i) form->cmd_RT_Click();
    QCOMPARE(Corners(), (std::vector<std::int64_t>{4, 4, 8, 8}));
    Select(2, 4, 2, 5);
    form->cmd_UP_Click();  // one row selected afterwards, the current one
    QCOMPARE(Corners(), (std::vector<std::int64_t>{1, 1, 2, 2}));  // writing Row collapses the selection
  }

  void hoveringShowsTheCellTextButNotOverHeaders() {
    form->show();
    auto hover = [this](QWidget* widget, QPointF at) {
      QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
      QCoreApplication::sendEvent(widget, &move);
      return Grid()->toolTip();
    };
    QCOMPARE(hover(Grid()->viewport(), Grid()->visualRect(Grid()->model()->index(0, 1)).center()), QString("a.q0"));
    QCOMPARE(hover(Grid()->horizontalHeader()->viewport(), HeaderPoint(1)), QString());
  }
};

QTEST_MAIN(FormActionsTest)
#include "FormActionsTest.moc"
