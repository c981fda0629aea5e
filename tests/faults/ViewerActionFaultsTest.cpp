// The viewer's message actions under forced faults: a refused delete, files
// that vanish or names taken between the name test and the rename, folders
// removed in the middle of a block, a full disk while the salvage tag is
// written. Every case states the whole tree and the rows left in the grid.
#include <QtTest>
#include <algorithm>

#include "shared/Module_MySafeRename.h"
#include "tests/TestSupport.h"
#include "tests/faults/FaultScript.h"
#include "tests/window/FormTestSupport.h"
#include "window/MSFlexGrid.h"
#include "window/frm_Qvue.h"

namespace {

using namespace faults;

const std::string kM = "/r1/Mail/Mailout";
const std::string kW = kM + "/Wait";
const std::string kE = kM + "/Errors";

std::string Subject(const std::string& subject) { return Header("From: a@x\r\nSubject: " + subject + "\r\n"); }
const std::string kA = Subject("a"), kB = Subject("b"), kEHeader = Subject("e");

// Wait holds a and b, Errors holds e; the window lists Wait (or Errors).
FileMap StartTree() {
  return Apply({{"/prog/Filter.ini", "\"junk-\",\"Subject: \",\"lottery\"\r\n"}},
               Pair(kW, "a", kA, "a body") + Pair(kW, "b", kB, "b body") + Pair(kE, "e", kEHeader, "e body"));
}

using Handler = void (frm_Qvue::*)();
using Names = std::vector<std::string>;

struct ViewerCase {
  std::string name = {};
  int subfolder = 2;  // the listed folder: 2 Wait, 3 Errors
  Handler action = nullptr;
  std::string first = {}, last = {};  // the selected block, by file name; no last: first alone
  Delta extra = {};                   // files added to the start tree
  std::vector<Fault> faults = {};
  std::optional<std::size_t> free_bytes = {};
  Delta expected = {};  // against the start tree (extra files included)
  Names rows = {};      // file names left in the grid; a reset grid shows one empty row
};

// The window on the roots /r1 and /r2, listing `subfolder` (1 the queue, 2 Wait, 3 Errors).
std::unique_ptr<frm_Qvue> OpenAt(int subfolder, std::vector<std::string>* errors = nullptr) {
  std::unique_ptr<frm_Qvue> form = form_test::OpenForm({.Root1 = "/r1", .Root2 = "/r2"}, errors);
  form->Option3_Click(subfolder);
  return form;
}

const std::vector<ViewerCase>& Cases() {
  static const std::vector<ViewerCase> cases = [] {
    const std::string c1 = test_support::FirstCollisionName();
    const Handler del = &frm_Qvue::MnuPOPBDelete_Click, errore = &frm_Qvue::MnuPOPBErrore_Click,
                  hold = &frm_Qvue::MnuPOPBHold_Click, salvage = &frm_Qvue::MnuPOPBSalvage_Click,
                  release = &frm_Qvue::MnuPOPBRelease_Click;
    const Delta e_held_as_c1 = Gone(kE, {"e"}) + Pair(kW, c1, kEHeader, "e body");
    const Names a_b = {"a.q0", "b.q0"};
    return std::vector<ViewerCase>{
        // Without faults: the companion in another letter case goes too; a
        // hold into the listed folder itself, and a salvage whose name the
        // queue has, take a collision name; a header too short for the tag
        // is salvaged untagged.
        {.name = "DeleteTakesTheCompanionInOtherCase", .action = del, .first = "C.q0",
         .extra = {{kW + "/C.q0", kA}, {kW + "/C.Q1", "x"}},
         .expected = {{kW + "/C.q0", std::nullopt}, {kW + "/C.Q1", std::nullopt}}, .rows = a_b},
        {.name = "Release", .action = release, .first = "a.q0", .expected = Gone(kW, {"a"}) + Pair(kM, "a", kA, "a body"),
         .rows = {"b.q0"}},
        {.name = "HoldIntoTheListedWait", .action = hold, .first = "a.q0",
         .expected = Gone(kW, {"a"}) + Pair(kW, c1, kA, "a body"), .rows = {"b.q0"}},
        {.name = "SalvageIntoAQueueThatHasTheName", .action = salvage, .first = "b.q0", .extra = {{kM + "/b.q0", "theirs"}},
         .expected = Gone(kW, {"b"}) + Pair(kM, c1, Tagged(kB), "b body"), .rows = {"a.q0"}},
        {.name = "SalvageOfAHeaderTooShortForTheTag", .action = salvage, .first = "t.q0", .extra = Pair(kW, "t", "x", "y"),
         .expected = Gone(kW, {"t"}) + Pair(kM, "t", "x", "y"), .rows = a_b},
        // A file of another message in another letter case is never taken
        // as the companion: only A.q0 goes.
        {.name = "DeleteLeavesTheOtherCaseBodyOfAnotherMessage", .action = del, .first = "A.q0",
         .extra = {{kW + "/A.q0", kA}}, .expected = {{kW + "/A.q0", std::nullopt}}, .rows = a_b},
        // A header that cannot be removed (in use) keeps its body and its row.
        {.name = "DeleteRefused", .action = del, .first = "a.q0", .faults = {Refuse(Op::kRemove, kW + "/a.q0")},
         .rows = a_b},
        // Sent by the remailer after the listing: nothing is created, the row goes.
        {.name = "ReleaseAfterThePairVanished", .action = release, .first = "a.q0",
         .faults = {Before(Op::kFind, kM + "/a.q0", 1, Vanish({kW + "/a.q0", kW + "/a.q1"}))},
         .expected = Gone(kW, {"a"}), .rows = {"b.q0"}},
        {.name = "ErroreSourceVanishesAtTheRename", .action = errore, .first = "a.q0",
         .faults = {VanishesAt(Op::kRename, kW + "/a.q0")}, .expected = {{kW + "/a.q0", std::nullopt}}, .rows = {"b.q0"}},
        // Targets taken after the name test: never overwritten, the pair and its row stay.
        {.name = "ErroreTargetTakenAtTheRename", .action = errore, .first = "a.q0",
         .faults = {Before(Op::kRename, kW + "/a.q0", 1, Take(kE + "/a.q0", "theirs"))},
         .expected = {{kE + "/a.q0", "theirs"}}, .rows = a_b},
        // A move refused in a block (file in use, no right): that row stays
        // with its companion, the rows after it are still moved.
        {.name = "ErroreRefusedForTheFirstRowOfABlock", .action = errore, .first = "a.q0", .last = "b.q0",
         .faults = {Refuse(Op::kRename, kW + "/a.q0")}, .expected = Gone(kW, {"b"}) + Pair(kE, "b", kB, "b body"),
         .rows = {"a.q0"}},
        // A hold into a Wait where a folder has the name: a collision name.
        {.name = "HoldIntoAWaitWhereAFolderHasTheName", .subfolder = 3, .action = hold, .first = "e.q0",
         .extra = {{kW + "/E.q1/x", "in a folder"}}, .expected = e_held_as_c1, .rows = {""}},
        // The last data row whose move fails stays as it was: no reset.
        {.name = "HoldOfTheLastRowIntoARemovedWait", .subfolder = 3, .action = hold, .first = "e.q0",
         .faults = {Before(Op::kFind, kW + "/e.q0", 1, Vanish({kW}))}, .expected = Gone(kW, {"a", "b"}),
         .rows = {"e.q0"}},
        // Errors removed (with what it held) before the second row moves:
        // that row and its file stay, Errors is not re-created.
        {.name = "ErrorsRemovedBeforeTheSecondRow", .action = errore, .first = "a.q0", .last = "b.q0",
         .faults = {Before(Op::kFind, kE + "/b.q0", 1, Vanish({kE}))}, .expected = Gone(kW, {"a"}) + Gone(kE, {"e"}),
         .rows = {"b.q0"}},
        // The listed folder removed before the second row moves: its row goes
        // with its file, nothing is created anywhere.
        {.name = "ListedFolderRemovedBeforeTheSecondRow", .action = errore, .first = "a.q0", .last = "b.q0",
         .faults = {Before(Op::kFind, kE + "/b.q0", 1, Vanish({kW}))},
         .expected = Gone(kW, {"a", "b"}) + Pair(kE, "a", kA, "a body"), .rows = {""}},
        // A salvage whose tag cannot be written must leave the message where
        // it was, untouched, with its row: released untagged, the next batch
        // pass applies the rules to it again.
        {.name = "SalvageWithTheDiskFillingPartWay", .action = salvage, .first = "a.q0", .free_bytes = 5, .rows = a_b},
        {.name = "SalvageReplaceRefused", .action = salvage, .first = "a.q0",
         .faults = {Refuse(Op::kReplace, kW + "/a.q0")}, .rows = a_b},
        {.name = "SalvageFileVanishesBeforeTheTag", .action = salvage, .first = "a.q0",
         .faults = {Before(Op::kReplace, kW + "/a.q0", 1, Vanish({kW + "/a.q0", kW + "/a.q1"}))},
         .expected = Gone(kW, {"a"}), .rows = {"b.q0"}},
        // The tag is written, the release refused: the tagged pair and its
        // row stay in Wait.
        {.name = "SalvageReleaseRefused", .action = salvage, .first = "a.q0", .faults = {Refuse(Op::kRename, kW + "/a.q0")},
         .expected = {{kW + "/a.q0", Tagged(kA)}}, .rows = a_b},
    };
  }();
  return cases;
}

// An action on one row of a listed folder (2 Wait, 3 Errors, 1 the queue).
struct CrashRun { const char* name; int subfolder; const char* row; Handler action; };
const CrashRun kCrashRuns[] = {
    {"Delete", 2, "a.q0", &frm_Qvue::MnuPOPBDelete_Click}, {"E", 2, "a.q0", &frm_Qvue::MnuPOPBErrore_Click},
    {"H", 1, "m.q0", &frm_Qvue::MnuPOPBHold_Click},        {"R", 3, "e.q0", &frm_Qvue::MnuPOPBRelease_Click},
    {"S", 2, "a.q0", &frm_Qvue::MnuPOPBSalvage_Click},
};

QString Show(const FileMap& files) { return QString::fromStdString(Describe(files)); }
QString Show(const Names& names) {
  QStringList list;
  for (const std::string& name : names) list << QString::fromStdString("[" + name + "]");
  return list.join(' ');
}

}  // namespace

class ViewerActionFaultsTest : public QObject {
  Q_OBJECT

 private slots:
  void leavesExactlyTheseFilesAndRows_data() {
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < Cases().size(); ++i) QTest::newRow(Cases()[i].name.c_str()) << static_cast<int>(i);
  }

  void leavesExactlyTheseFilesAndRows() {
    QFETCH(int, index);
    const ViewerCase& c = Cases()[static_cast<std::size_t>(index)];
    FakeFileSystem fs;
    const FileMap start = Apply(StartTree(), c.extra);
    for (const auto& [path, bytes] : start) fs.AddFile(path, bytes);

    std::vector<std::string> errors;
    const std::unique_ptr<frm_Qvue> form = OpenAt(c.subfolder, &errors);
    MSFlexGrid* grid = form->Grid();
    form_test::Select(grid, 0, 0);
    form->MnuPOPHSortA_Click();  // by file name
    form_test::Select(grid, form_test::RowOf(grid, c.first), form_test::RowOf(grid, c.last.empty() ? c.first : c.last));
    QCOMPARE(grid->TextMatrix(grid->Row(), 1), c.first);
    for (std::int64_t r = 1; r < grid->Rows(); ++r) grid->Data().SetCellPicture(r, 3, frm_Qvue::kFlagMark);

    auto unfired = Install(fs, c.faults);
    fs.free_bytes = c.free_bytes;
    ResetCollisionNameGenerator();
    (form.get()->*c.action)();
    fs.before = nullptr;
    fs.free_bytes.reset();

    QCOMPARE(QString::fromStdString(unfired()), QString());
    QVERIFY(errors.empty());
    QCOMPARE(Show(fs.Files()), Show(Apply(start, c.expected)));
    QCOMPARE(Show(form_test::Names(grid)), Show(c.rows));
    // A row left by a failed action keeps its flag.
    for (std::int64_t r = 1; r < grid->Rows(); ++r)
      if (!grid->TextMatrix(r, 1).empty()) QCOMPARE(grid->Data().CellPicture(r, 3), frm_Qvue::kFlagMark);
  }

  // Each action killed before each of its changes, in turn; the window
  // opened again puts right what was cut short, and the operator repeats
  // the action on the row if it is still listed. The tree must then be what
  // one whole action leaves.
  void anActionKilledAtAnyChangeIsFinishedByTheNextWindow_data() {
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < std::size(kCrashRuns); ++i) QTest::newRow(kCrashRuns[i].name) << static_cast<int>(i);
  }

  void anActionKilledAtAnyChangeIsFinishedByTheNextWindow() {
    QFETCH(int, index);
    const CrashRun& run = kCrashRuns[index];
    auto act = [&] {
      const std::unique_ptr<frm_Qvue> form = OpenAt(run.subfolder);
      std::int64_t r = form_test::RowOf(form->Grid(), run.row);
      if (r < 0) return;
      form_test::Select(form->Grid(), r, r);
      (form.get()->*run.action)();
    };
    // The release takes a collision name: the queue has e.q0.
    const FileMap tree = Apply(StartTree(), Pair(kM, "m", Subject("m"), "m body") + Delta{{kM + "/e.q0", Subject("theirs")}});
    CrashScript script{
        .build = [&](FakeFileSystem& fs) { for (const auto& [path, bytes] : tree) fs.AddFile(path, bytes); },
        .run = act,
        .recover = act,
    };
    QCOMPARE(QString::fromStdString(CrashAtEveryChange(script)), QString());
  }
};

QTEST_MAIN(ViewerActionFaultsTest)
#include "ViewerActionFaultsTest.moc"
