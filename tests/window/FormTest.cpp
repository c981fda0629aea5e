// Drives the viewer's window as an operator would, on real folders in a
// temporary installation, with the launcher, the dialog and the error box
// replaced so that every start and every message can be checked.
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QAction>
#include <QRadioButton>
#include <QMenu>
#include <QMenuBar>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QtTest>
#include <filesystem>

#include "tests/window/FormTestSupport.h"

using test_support::WriteFile;

class FormTest : public QObject {
  Q_OBJECT

  std::unique_ptr<form_test::Installation> inst;
  std::unique_ptr<frm_Qvue> form;
  std::vector<std::string> errors;
  std::string prog, root1, root2;

  // The window started, or started again after a test changed the installation.
  void Start() { form.reset(), form = inst->Open(&errors); }
  std::string Cell(std::int64_t row, int col) const { return form->Grid()->TextMatrix(row, col); }

 private slots:
  void init() {
    inst = std::make_unique<form_test::Installation>();
    prog = inst->prog, root1 = inst->root1, root2 = inst->root2;
    WriteFile(prog + "/Filter.ini", "\"old-\",\"Subject: \",\"alpha\"\r\n");
    std::filesystem::create_directories(root1 + "/Mail/Mailout/Bad/Deeper");
    const std::string wait = root1 + "/Mail/Mailout/Wait/";
    const std::string header = "Q 1 smtp\r\n12/06/26 14:03:22\r\nFrom: a@x\r\nTo: b@y\r\nReturn-Path: <a@x>\r\nSubject: ";
    for (auto [stem, subject, q1] : {std::tuple{"m1", "alpha", "12345"}, {"m2", "beta", ""}, {"m3", "gamma", "x"}}) {
      WriteFile(wait + stem + ".q0", header + subject + "\r\n\r\n");
      WriteFile(wait + stem + ".q1", q1);
    }
    WriteFile(wait + "empty.q0", "");
    WriteFile(root1 + "/Mail/MailIn/in1", "Subject: one-file\r\nTo: rcpt\r\n\r\n");
    errors.clear();
    Start();
  }
  void cleanup() { form.reset(), inst.reset(); }

  void startUpListsTheDefaultFolder() {
    QCOMPARE(form->CurrentFolder(), root1 + "/Mail/Mailout/Wait");
    QVERIFY(form->Option1[1]->isChecked() && form->Option2[4]->isChecked() && form->Option3[2]->isChecked());
    std::vector<std::string> names = form_test::Names(form->Grid());  // three messages, no spare row
    std::sort(names.begin(), names.end());
    QCOMPARE(names, (std::vector<std::string>{"m1.q0", "m2.q0", "m3.q0"}));
    QCOMPARE(Cell(1, 0) + Cell(2, 0) + Cell(3, 0), std::string("123"));
    QCOMPARE(form->txt_Info1->text() + "|" + form->txt_Info3->text(), QString(" 3| 1"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);  // the hourglass is gone after the load
  }

  // Each folder button lists the folder its caption names; a one-file queue
  // (~Filtered, MailIn, Trash) has no special subfolder and hides the To
  // column, a queue of pairs the ReturnPath column.
  void folderButtonsListTheFoldersTheyName() {
    for (int s = 1; s <= 3; ++s) {
      QTest::mouseClick(form->Option3[s], Qt::LeftButton);
      for (int q = 6; q >= 1; --q) {
        QTest::mouseClick(form->Option2[q], Qt::LeftButton);
        QString subfolder = q > 3 ? form->Option3[s]->text() : "";
        QCOMPARE(QString::fromStdString(form->CurrentFolder()),
                 QString::fromStdString(root1) + form->Option2[q]->text() + subfolder);
        QCOMPARE(form->Grid()->ColWidth(q > 3 ? 7 : 6), 0);
        if (q == 2) QCOMPARE(Cell(1, 4), std::string("one-file"));
      }
    }
    QCOMPARE(form->Grid()->Rows(), std::int64_t{2});  // ~Filtered is missing: the empty listing's single row
    QCOMPARE(Cell(1, 0) + form->txt_Info1->text().toStdString(), std::string("0010"));
    QTest::mouseClick(form->Option1[2], Qt::LeftButton);
    QCOMPARE(form->CurrentFolder(), root2 + "/Mail/~Filtered");
  }

  // The window stays responsive while a folder loads: what the operator does
  // meanwhile (here a posted event) is handled before the load ends.
  void eventsAreHandledDuringALoad() {
    bool posted = false, handled_while_loading = false;
    auto repainted = connect(form.get(), &frm_Qvue::CountersRepainted, this, [&] {
      if (std::exchange(posted, true)) return;
      QMetaObject::invokeMethod(
          this, [&] { handled_while_loading = !form->menuBar()->isEnabled() && !form->cmd_GO->isEnabled(); }, Qt::QueuedConnection);
    });
    form->cmd_GO_Click();
    QCoreApplication::processEvents();
    disconnect(repainted);
    QVERIFY(posted && handled_while_loading);
  }

  void goKeepsTheRulesAndFilterReloadsThem() {
    WriteFile(prog + "/Filter.ini", "\"new\",\"Subject: \",\"beta\"\r\n");
    form->cmd_GO_Click();
    auto classification_of = [this](const std::string& name) { return Cell(form_test::RowOf(form->Grid(), name), 3); };
    QCOMPARE(classification_of("m1.q0"), std::string("Suold-"));
    QTest::mouseClick(form->cmd_FILTER, Qt::LeftButton);
    QCOMPARE(classification_of("m1.q0") + "|" + classification_of("m2.q0"), std::string("|Sunew"));

    WriteFile(prog + "/Filter.ini", "\"broken\",\"Subject: \"\r\n");
    form->cmd_FILTER_Click();
    QCOMPARE(errors.size(), 1u);  // none from the start
    QVERIFY(errors[0].find(prog + "/Filter.ini: ends inside a record") != std::string::npos);
    QCOMPARE(classification_of("m2.q0"), std::string(""));  // no rules, still listed
    QCOMPARE(form->Grid()->Rows(), std::int64_t{4});
  }

  void aMissingRuleFileAtStartUpLeavesAUsableWindow() {
    std::filesystem::remove(prog + "/Filter.ini");
    Start();
    QCOMPARE(errors.size(), 1u);
    QVERIFY(errors[0].find(prog + "/Filter.ini: not found") != std::string::npos);
    QCOMPARE(form->Grid()->Rows(), std::int64_t{4});
    QVERIFY(form->cmd_GO->isEnabled());
  }

  void theExtraSubfolderComesFromTheDialogsPath() {
    std::string queue = root1 + "/Mail/Mailout";
    std::string answer, asked;
    form->RunFolderDialog = [&](const std::string& init_dir) {
      asked = init_dir;
      return answer;
    };
    form->Frame3_DblClick();
    QVERIFY(form->txt_DIR->isVisible());
    QCOMPARE(form->txt_DIR->text(), QString("/Local"));

    answer = "";  // cancelled
    form->txt_DIR_DblClick();
    QCOMPARE(asked, queue);
    QVERIFY(form->txt_DIR->isVisible());
    QCOMPARE(form->txt_DIR->text(), QString(""));
    QCOMPARE(form->Option3[4]->text(), QString("/Local"));

    answer = queue + "/direct.cnm";  // a file in the queue folder itself
    form->txt_DIR_DblClick();
    QCOMPARE(form->txt_DIR->text(), QString(""));

    answer = queue + "/Bad/Deeper/x.cnm";  // two levels down: the first level counts
    form->txt_DIR_DblClick();
    QVERIFY(!form->txt_DIR->isVisible());
    QCOMPARE(form->Option3[4]->text(), QString("/Bad"));
    QCOMPARE(form->Option3[4]->toolTip(), QString("/Bad"));

    form->Option3_Click(4);
    QCOMPARE(form->CurrentFolder(), queue + "/Bad");
    form->Frame3_DblClick();
    answer = queue + "/Wait/m1.q0";
    form->txt_DIR_DblClick();
    QCOMPARE(form->CurrentFolder(), queue + "/Wait");  // applied at once
  }

  void menusStartTheExactCommandLines() {
    auto trigger = [this](const QString& menu, const QString& item) {  // as the operator reads them
      for (QAction* title : form->menuBar()->actions()) {
        for (QAction* action : title->text() == menu ? title->menu()->actions() : QList<QAction*>{})
          if (action->text() == item) action->trigger();
      }
    };
    trigger("View", "Filter.ini");
    for (const char* menu : {"Explorer1", "Explorer2"}) {
      for (const char* item : {"Me", "Mail"}) trigger(menu, item);
    }
    form->MnuSExplorer1_Click(3);  // no such item: nothing starts
    trigger("Apps", "Sievbat.exe");
    std::string wait = root1 + "/Mail/Mailout/Wait";
    QCOMPARE(inst->launcher.started,
             (std::vector<std::string>{"EditPad.exe " + prog + "/Filter.ini", "EXPLORER.EXE /n,/e," + prog,
                                       "EXPLORER.EXE /n,/e," + wait, "EXPLORER.EXE /n," + prog,
                                       "EXPLORER.EXE /n," + wait, "Sievbat.exe " + wait}));
    QCOMPARE(form->LoadCount(), 2);  // Apps reloads at once

    form->Option2_Click(2);
    trigger("Explorer2", "Mail");
    QCOMPARE(inst->launcher.started.back(), "EXPLORER.EXE /n," + root1 + "/Mail/MailIn");
  }

  // Every caption fits its control at the form's font, the root buttons
  // tell their installation by its last folder, and the counters read as
  // text that nothing edits.
  void captionsFitTheirControls() {
    const std::string long_name = "Queue installation of the night shift on the second host 02X";
    root1 = inst->root1 = inst->temp.path() + "/Kestran 2";
    root2 = inst->root2 = inst->temp.path() + "/" + long_name;
    Start();
    QCOMPARE(QFontInfo(form->Frame1->font()).family(), QString("Liberation Sans"));

    // The caption, drawn `offset` pixels into its control, ends within `room`.
    auto fits = [](const QWidget* w, QString caption, int offset, int room) {
      const int end = offset + w->fontMetrics().horizontalAdvance(caption.replace("&&", "&"));
      QVERIFY2(end <= room, qPrintable(caption + QString(" %1 > %2").arg(end).arg(room)));
    };
    for (QAbstractButton* b : form->findChildren<QAbstractButton*>()) {
      if (b == form->Option3[4] || b->text().isEmpty()) continue;  // a circle or a picture alone
      QStyleOptionButton option;
      option.initFrom(b);
      auto contents = qobject_cast<QRadioButton*>(b) ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents;
      fits(b, b->text(), 0, b->style()->subElementRect(contents, &option, b).width());
    }
    for (QGroupBox* box : form->findChildren<QGroupBox*>()) {
      QStyleOptionGroupBox option;
      option.initFrom(box);
      option.text = box->title();
      option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
      QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
      int frame = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box);
      fits(box, box->title(), label.left(), box->width() - frame);
    }

    QCOMPARE(form->Option1[1]->toolTip(), QString::fromStdString(root1));
    QVERIFY(form->Option1[1]->text().endsWith("Kestran 2"));
    QCOMPARE(form->Option1[2]->toolTip(), QString::fromStdString(root2));
    QString shown = form->Option1[2]->text();
    QVERIFY2(shown.startsWith("Queue") && shown.endsWith(QChar(0x2026)), qPrintable(shown));
    QVERIFY(QString::fromStdString(long_name).startsWith(shown.chopped(1)));

    for (QLineEdit* box : {form->txt_Info1, form->txt_Info2, form->txt_Info3, form->txt_NbSelV, form->txt_NbSelH}) {
      QVERIFY(box->isEnabled() && box->isReadOnly());
      QString before = box->text();
      QTest::keyClicks(box, "7");
      QCOMPARE(box->text(), before);
    }
  }

  // The tooltip of each action button names that button's own action: one
  // on the wrong button sends the operator to another action.
  void actionButtonsNameTheirAction() {
    const std::pair<QPushButton*, const char*> buttons[] = {
        {form->cmd_MAGIC1, "MAGIC1 ("}, {form->cmd_MAGIC2, "MAGIC2 ("},  {form->cmd_DELETE, "DELETE ("},
        {form->cmd_FLAG, "FLAG ("},     {form->cmd_UNFLAG, "UNFLAG ("},  {form->cmd_ERRORE, "ERRORE ("},
        {form->cmd_HOLD, "HOLD ("},     {form->cmd_RELEASE, "RELEASE ("}, {form->cmd_SALVAGE, "SALVAGE ("},
        {form->cmd_FILTER, "Reloads Filtering Parameters"}};
    for (auto [button, action] : buttons) QVERIFY2(button->toolTip().startsWith(action), qPrintable(button->toolTip()));
  }

  void onlyTheGridGrowsWithTheWindow() {
    const QRect grid_before = form->Grid()->geometry(), go_before = form->cmd_GO->geometry();
    form->resize(form->width() + 200, form->height() + 100);
    QCoreApplication::processEvents();
    QCOMPARE(form->Grid()->geometry(), grid_before.adjusted(0, 0, 200, 100));
    QCOMPARE(form->cmd_GO->geometry(), go_before);
  }
};

QTEST_MAIN(FormTest)
#include "FormTest.moc"
