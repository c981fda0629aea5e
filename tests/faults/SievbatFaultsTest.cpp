// The batch filter's pass under forced faults: refused opens, reads that
// fail half-way, files and folders that vanish or names that get taken at
// the worst moment, a full disk. Every case states the whole tree afterwards,
// as a difference from what a pass without faults leaves.
#include <gtest/gtest.h>

#include <sstream>

#include "batch/main_Sievbat.h"
#include "shared/Module_MySafeRename.h"
#include "shared/Module_SalvageTag.h"
#include "tests/TestSupport.h"
#include "tests/faults/FaultScript.h"

namespace {

using namespace faults;

const std::string kQ = "/q";
const std::string kW = "/q/Wait";

// Salvaged in the viewer although a delete rule matches.
const std::string kSalv = Tagged(kDel);
// Matches the delete rule in its Subject line and, further down, the hold
// rule in its From line; the From list is checked first, so it is held.
const std::string kSubjectFirst = Header("Subject: lottery\r\nFrom: newsletter@shop\r\n");

FileMap StartTree() {
  return Apply({{"/prog/Filter.ini", kRules}}, Pair(kW, "old", "waiting", "waiting body") +
                                                   Pair(kQ, "a-del", kDel, "del body") + Pair(kQ, "b-hold", kHold, "hold body") +
                                                   Pair(kQ, "c-salv", kSalv, "salv body") +
                                                   Pair(kQ, "d-plain", kPlain, "plain body"));
}

// What a pass without faults leaves: the deleted pair gone, the held pair in
// Wait, the salvage tag stripped, the plain pair untouched.
FileMap CleanPass() {
  return Apply(StartTree(), Gone(kQ, {"a-del", "b-hold"}) + Pair(kW, "b-hold", kHold, "hold body") +
                                Delta{{kQ + "/c-salv.q0", kDel}});
}

struct SievbatCase {
  std::string name = {};
  std::string option = {};  // --dry-run or --verbose
  Delta extra = {};  // changes to the start tree
  std::vector<Fault> faults = {};
  std::size_t read_chunk = 4096;
  std::optional<std::size_t> free_bytes = {};
  bool hard_links = true;
  // The tree afterwards, against what a pass without faults leaves with the
  // extra files (the start tree for a dry run or a pass that fails).
  Delta expected = {};
  std::vector<std::string> folders_gone = {};
  std::vector<std::string> folders_added = {};  // to the start tree
  std::string report = {};  // everything written to stdout and stderr
  int status = 0;
};

// Test names show the case's name, not its bytes.
void PrintTo(const SievbatCase& c, std::ostream* os) { *os << c.name; }

std::string Q(const std::string& name) { return kQ + "/" + name; }

std::vector<SievbatCase> Cases() {
  const std::string c1 = test_support::FirstCollisionName();
  const Delta untouched_salvage = {{Q("c-salv.q0"), kSalv}}, del_stays = Pair(kQ, "a-del", kDel, "del body");
  const Delta not_held = Pair(kQ, "b-hold", kHold, "hold body") + Gone(kW, {"b-hold"});
  const Delta held_as_c1 = Gone(kW, {"b-hold"}) + Pair(kW, c1, kHold, "hold body");
  const Delta hold_stays = not_held + Gone(kW, {"old"});
  const std::size_t before_tag = kSalv.find(SalvageTagHeader), before_from = kSubjectFirst.find("From: ");
  // A verbose pass's lines for the messages it acts on.
  auto told = [](const std::string& del, const std::string& hold, const std::string& strip) {
    return "a-del.q0\tSujunk-\t" + del + "\nb-hold.q0\tFrbulkW\t" + hold + "\nc-salv.q0\tXXX\t" + strip + "\n";
  };
  const std::string not_found = "sievbat: /prog/Filter.ini: not found\n", ini = "/prog/Filter.ini";
  const Delta rules_gone = {{ini, std::nullopt}};
  return {
      // A dry run tells each header file's action, a read cut short as keep,
      // names escaped, and changes nothing; a small "w" is a label only; an
      // empty header file is passed over.
      {.name = "DryRunTellsEveryActionAndChangesNothing", .option = "--dry-run",
       .extra = Pair(kQ, "e\tx", kDel, "e") + Pair(kQ, "f", Header("From: later@x\r\n"), "f") + Pair(kQ, "g", "", "g"),
       .faults = {Refuse(Op::kOpenRead, Q("e\tx.q0"))},
       .report = told("delete", "hold", "strip") + "d-plain.q0\t\tkeep\ne\\tx.q0\t\tkeep\nf.q0\tFrlaterw\tkeep\n"},
      // Not message pairs: empty, without companion, a folder, in a subfolder.
      {.name = "WhatIsNotAMessagePairIsLeft",
       .extra = Pair(kQ, "empty", "", "") + Delta{{Q("lone.q0"), kDel}, {Q("ext.q0x"), kDel}, {Q("ext.q1"), "x"}} +
                Pair(kW, "sub", kDel, "s"),
       .folders_added = {Q("dir.q0")}},

      // The rule file cannot be loaded: nothing is touched, the fault is told.
      {.name = "RuleFileMissing", .extra = rules_gone, .report = not_found, .status = 1},
      {.name = "RuleFileMissingInADryRun", .option = "--dry-run", .extra = rules_gone, .report = not_found, .status = 1},
      {.name = "RuleFileCutShort", .extra = {{ini, kRules + "\"x\"\r\n"}},
       .report = "sievbat: /prog/Filter.ini: ends inside a record (line 4 has 1 of 3 fields: tag, header word, "
                 "pattern)\n",
       .status = 1},
      {.name = "RuleFileIsAFolder", .extra = rules_gone, .folders_added = {ini},
       .report = "sievbat: /prog/Filter.ini: is a folder, not a file\n", .status = 1},
      // A queue folder that exists but cannot be listed (no right, a network
      // share gone) must not end as if the pass was done.
      {.name = "QueueCannotBeListed", .faults = {Refuse(Op::kList, kQ)}, .report = "sievbat: /q: cannot be listed\n",
       .status = 1},

      // Open refused: the message is left as it is, whatever its rule.
      {.name = "HeaderOpenRefused", .faults = {Refuse(Op::kOpenRead, Q("a-del.q0"))}, .expected = del_stays},
      {.name = "SalvagedHeaderOpenRefused", .faults = {Refuse(Op::kOpenRead, Q("c-salv.q0"))},
       .expected = untouched_salvage},
      {.name = "OpenForTheStripRefused", .option = "--verbose", .faults = {Refuse(Op::kOpenRead, Q("c-salv.q0"), 2)},
       .expected = untouched_salvage, .report = told("delete", "hold\tb-hold.q0", "failed\tstrip")},

      // Reads failing half-way.
      {.name = "ReadOfTheStripFailsHalfway",  // the second read of the strip's, after the header read's
       .faults = {Refuse(Op::kRead, Q("c-salv.q0"), static_cast<int>((kSalv.size() + 7) / 8) + 2)}, .read_chunk = 8,
       .expected = untouched_salvage},
      {.name = "ReadFailsBeforeTheRuleLine", .faults = {Refuse(Op::kRead, Q("a-del.q0"), 2)}, .read_chunk = 16,
       .expected = del_stays},
      // The read ends before the tag: the rules see the Subject alone.
      {.name = "ReadFailsBeforeTheSalvageTag", .faults = {Refuse(Op::kRead, Q("c-salv.q0"), 2)},
       .read_chunk = before_tag, .expected = untouched_salvage},
      // The read ends before the From line that would have held it.
      {.name = "ReadFailsBeforeTheHoldRuleLine", .extra = Pair(kQ, "e-first", kSubjectFirst, "first body"),
       .faults = {Refuse(Op::kRead, Q("e-first.q0"), 2)}, .read_chunk = before_from},

      // Vanishing between the listing and the read.
      {.name = "HeaderVanishesBeforeItsRead", .faults = {VanishesAt(Op::kOpenRead, Q("a-del.q0"))},
       .expected = {{Q("a-del.q1"), "del body"}}},

      // Vanishing between the classification and the action.
      {.name = "HeaderVanishesBeforeItsDelete",  // the body comes back: a delete goes whole or not at all
       .option = "--verbose", .faults = {VanishesAt(Op::kRemove, Q("a-del.q0"))},
       .expected = {{Q("a-del.q1"), "del body"}}, .report = told("failed\tdelete", "hold\tb-hold.q0", "strip")},
      {.name = "HeaderCannotBeRemoved", .option = "--verbose", .faults = {Refuse(Op::kRemove, Q("a-del.q0"))},
       .expected = del_stays, .report = told("failed\tdelete", "hold\tb-hold.q0", "strip")},
      {.name = "BodyCannotStepAside", .faults = {Refuse(Op::kRename, Q("a-del.q1"))}, .expected = del_stays},
      {.name = "HeaderVanishesBeforeItsHold",  // the companion never moves alone
       .faults = {VanishesAt(Op::kRename, Q("b-hold.q0"))},
       .expected = Gone(kW, {"b-hold"}) + Delta{{Q("b-hold.q1"), "hold body"}}},
      // The body cannot follow its header: the header is moved back.
      {.name = "CompanionVanishesBeforeItFollows", .faults = {VanishesAt(Op::kLink, Q("b-hold.q1"))},
       .expected = Gone(kW, {"b-hold"}) + Delta{{Q("b-hold.q0"), kHold}}},
      {.name = "CompanionTargetTakenBeforeItFollows",
       .faults = {Before(Op::kLink, Q("b-hold.q1"), 1, Take(kW + "/b-hold.q1", "theirs"))},
       .expected = not_held + Delta{{kW + "/b-hold.q1", "theirs"}}},
      // Another of our programs comes for the pair while its header stands in
      // Wait and its body is still here: it finds both locked and leaves them,
      // and the pass leaves what a pass without faults does.
      {.name = "ReleasedBackWhileItsBodyIsStillHere",
       .faults = {Before(Op::kRemove, Q("b-hold.q1"), 1,
                         [](FakeFileSystem&) { EXPECT_FALSE(SafeRenameMessage(kW, kQ, "b-hold.q0")); })}},
      {.name = "DeletedWhileItsHeaderIsAlreadyInWait",
       .faults = {Before(Op::kRemove, Q("b-hold.q1"), 1,
                         [](FakeFileSystem&) { EXPECT_FALSE(DeleteMessageFiles(Q("b-hold.q0"))); })}},
      {.name = "PairLockedByAnotherProgram",  // left for the next pass
       .faults = {Refuse(Op::kLock, Q("b-hold.q0")), Refuse(Op::kLock, Q("a-del.q1"))}, .expected = not_held + del_stays},
      {.name = "SalvagedFileVanishesBeforeTheReplace",  // not re-created
       .faults = {VanishesAt(Op::kReplace, Q("c-salv.q0"))}, .expected = {{Q("c-salv.q0"), std::nullopt}}},
      {.name = "SalvagedFileVanishesBeforeTheStripOpensIt",  // not re-created, not told as done
       .option = "--verbose", .faults = {Before(Op::kOpenRead, Q("c-salv.q0"), 2, Vanish({Q("c-salv.q0")}))},
       .expected = {{Q("c-salv.q0"), std::nullopt}}, .report = told("delete", "hold\tb-hold.q0", "failed\tstrip")},
      {.name = "ReplaceOfTheSalvagedFileRefused",  // no new version left behind, not told as done
       .option = "--verbose", .faults = {Refuse(Op::kReplace, Q("c-salv.q0"))}, .expected = untouched_salvage,
       .report = told("delete", "hold\tb-hold.q0", "failed\tstrip")},
      {.name = "CompanionVanishesBeforeTheDelete",  // the header still goes
       .faults = {VanishesAt(Op::kRename, Q("a-del.q1"))}},
      // The operator moves the message to Wait and the remailer writes a new
      // file under its old name during the strip: neither is touched, and
      // the moved message keeps its tag for the pass over Wait's queue.
      {.name = "MessageMovedDuringTheStrip",
       .faults = {Before(Op::kReplace, Q("c-salv.q0"), 1,
                         [](FakeFileSystem& fs) {
                           fs.RenameNoReplace(Q("c-salv.q0"), kW + "/c-salv.q0");
                           fs.AddFile(Q("c-salv.q0"), "newcomer");
                         })},
       .expected = {{Q("c-salv.q0"), "newcomer"}, {kW + "/c-salv.q0", kSalv}}},

      // Hold targets taken at the rename: never overwritten, the pair stays.
      {.name = "HoldTargetTakenAtTheRename",
       .faults = {Before(Op::kRename, Q("b-hold.q0"), 1, Take(kW + "/b-hold.q0", "theirs"))},
       .expected = not_held + Delta{{kW + "/b-hold.q0", "theirs"}}},
      {.name = "HoldTargetTakenInOtherCaseAtTheRename",
       .faults = {Before(Op::kRename, Q("b-hold.q0"), 1, Take(kW + "/B-HOLD.Q0", "theirs"))},
       .expected = not_held + Delta{{kW + "/B-HOLD.Q0", "theirs"}}},
      // A folder has the hold's name: the pair moves whole under a collision name.
      {.name = "HoldTargetNameIsAFolder", .expected = held_as_c1, .folders_added = {kW + "/B-Hold.Q0"}},
      {.name = "HoldTargetTakenInOtherCaseBeforeThePass",  // told with the name it got
       .option = "--verbose", .extra = {{kW + "/B-HOLD.Q0", "theirs"}}, .expected = held_as_c1,
       .report = told("delete", "hold\t" + c1 + ".q0", "strip")},

      // Letter case: another case is used only when it is unambiguous.
      {.name = "OtherCaseCompanionOfAnotherHeaderIsNeverTaken",
       .extra = Pair(kQ, "f", kPlain, "f body") + Delta{{Q("F.q0"), kDel}}},
      {.name = "OtherCaseCompanionAloneIsTaken", .extra = {{Q("G.q0"), kDel}, {Q("g.q1"), "g body"}},
       .expected = {{Q("G.q0"), std::nullopt}, {Q("g.q1"), std::nullopt}}},
      {.name = "TwoOtherCaseCompanionsAreAmbiguous", .extra = {{Q("H.q0"), kDel}, {Q("h.q1"), "1"}, {Q("h.Q1"), "2"}}},

      // The salvage tag: only the tag lines go, wherever they stand, in any case.
      {.name = "TagLineInTheMiddleOfTheHeader",
       .extra = Pair(kQ, "t-mid", Header("From: a@x\r\nX-Salvaged: yes\r\nTo: op@x\r\nSubject: lottery\r\n"), "t"),
       .expected = {{Q("t-mid.q0"), Header("From: a@x\r\nTo: op@x\r\nSubject: lottery\r\n")}}},
      {.name = "TagAddedTwice",  // cut at the first tag, byte for byte
       .extra = Pair(kQ, "t-two", Tagged(kSalv), "t"), .expected = {{Q("t-two.q0"), kDel}}},
      {.name = "TagLineAfterABareCr",  // the CR keeps the tag line's LF: no line is joined
       .extra = Pair(kQ, "t-cr", Header("From: a@x\rX-Salvaged: yes\r\nSubject: lottery\r\n"), "t"),
       .expected = {{Q("t-cr.q0"), Header("From: a@x\r\nSubject: lottery\r\n")}}},
      {.name = "TagOnLineTwoIsNoHeaderLine",  // lines 1 and 2 are the writer's, never header lines
       .extra = Pair(kQ, "t-two2", "Q 1\r\nX-Salvaged: yes\r\nSubject: lottery\r\nX-Salvaged: yes\r\n\r\n", "t"),
       .expected = {{Q("t-two2.q0"), "Q 1\r\nX-Salvaged: yes\r\nSubject: lottery\r\n\r\n"}}},
      {.name = "TagInCapitalsAtTheEnd", .extra = Pair(kQ, "t-caps", Header("Subject: lottery\r\nx-salvaged: YES\r\n"), "t"),
       .expected = {{Q("t-caps.q0"), Header("Subject: lottery\r\n")}}},

      // Folders removed during the pass: the rest goes on, nothing is created.
      {.name = "WaitRemovedAfterTheFirstMessage", .faults = {Before(Op::kOpenRead, Q("b-hold.q0"), 1, Vanish({kW}))},
       .expected = hold_stays, .folders_gone = {kW}},
      {.name = "WaitRemovedBetweenTheNameTestAndTheRename", .option = "--verbose",
       .faults = {Before(Op::kRename, Q("b-hold.q0"), 1, Vanish({kW}))}, .expected = hold_stays,
       .folders_gone = {kW}, .report = told("delete", "failed\thold", "strip")},
      {.name = "QueueRemovedAfterTheFirstMessage", .faults = {Before(Op::kOpenRead, Q("b-hold.q0"), 1, Vanish({kQ}))},
       .expected = Gone(kW, {"old", "b-hold"}) + Gone(kQ, {"c-salv", "d-plain"}), .folders_gone = {kQ}},

      // A full disk: deletes and moves need no space; the strip's new
      // version cannot be written whole, so the tagged file stays as it was.
      {.name = "DiskFullOneByteIntoTheStrip", .free_bytes = 1, .expected = untouched_salvage},
      // Without hard links the pair moves by two renames, header first.
      {.name = "NoHardLinks", .hard_links = false},
      // The body's second name cannot be made in Wait: nothing moves, and the hold is told as failed.
      {.name = "LinkIntoWaitRefused", .option = "--verbose", .faults = {Refuse(Op::kLink, Q("b-hold.q1"))},
       .expected = not_held, .report = told("delete", "failed\thold", "strip")},
      // Wait is not a folder: nothing moves.
      {.name = "WaitIsAFile", .option = "--verbose",
       .faults = {Before(Op::kOpenRead, Q("b-hold.q0"), 1, [](FakeFileSystem& fs) { fs.RemoveTree(kW), fs.AddFile(kW, "x"); })},
       .expected = hold_stays + Delta{{kW, "x"}}, .report = told("delete", "failed\thold", "strip")},
  };
}

class SievbatFaultTable : public ::testing::TestWithParam<SievbatCase> {
 protected:
  FakeFileSystem fs;
};

TEST_P(SievbatFaultTable, LeavesExactlyTheseFiles) {
  const SievbatCase& c = GetParam();
  for (const auto& [path, bytes] : Apply(StartTree(), c.extra)) fs.AddFile(path, bytes);
  for (const std::string& folder : c.folders_added) fs.AddFolder(folder);
  fs.read_chunk = c.read_chunk;
  fs.free_bytes = c.free_bytes;
  fs.hard_links = c.hard_links;
  auto unfired = Install(fs, c.faults);
  ResetCollisionNameGenerator();

  std::ostringstream out, err;
  std::vector<std::string> args{kQ};
  if (!c.option.empty()) args.insert(args.begin(), c.option);
  EXPECT_EQ(Main(args, out, err), c.status);
  EXPECT_EQ(out.str() + err.str(), c.report);
  fs.before = nullptr;
  EXPECT_EQ(unfired(), "");
  for (const std::string& folder : c.folders_gone) EXPECT_FALSE(fs.PathExists(folder)) << folder;
  EXPECT_TRUE(fs.unsynced().empty()) << "changed folders not flushed: " << *fs.unsynced().begin();

  const bool changes_nothing = c.option == "--dry-run" || c.status != 0;
  FileMap after_pass = Apply(changes_nothing ? StartTree() : CleanPass(), c.extra);
  EXPECT_EQ(Describe(fs.Files()), Describe(Apply(after_pass, c.expected)));
}

INSTANTIATE_TEST_SUITE_P(Faults, SievbatFaultTable, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<SievbatCase>& row) { return row.param.name; });

// A dry run over a large queue reaches its output in pieces of about 64 KiB,
// each flushed, not at the end of the pass nor line by line.
TEST(SievbatReport, ADryRunIsWrittenInPiecesOfAbout64KiB) {
  struct Pieces : std::streambuf {
    std::vector<std::streamsize> sizes;
    int syncs = 0;
    std::streamsize xsputn(const char*, std::streamsize n) override { return sizes.push_back(n), n; }
    int sync() override { return ++syncs, 0; }
  } pieces;
  FakeFileSystem fs;
  fs.AddFile("/prog/Filter.ini", kRules);
  for (int i = 0; i < 1000; ++i) fs.AddFile(kQ + "/" + std::string(200, 'm') + std::to_string(i) + ".q0", kPlain);
  std::ostream out(&pieces);
  EXPECT_EQ(Main({"--dry-run", kQ}, out, out), 0);
  ASSERT_EQ(pieces.sizes.size(), 4u);  // 1000 lines of 212 or so bytes
  EXPECT_EQ(pieces.syncs, 4);
  for (std::size_t i = 0; i + 1 < pieces.sizes.size(); ++i) EXPECT_NEAR(pieces.sizes[i], 1 << 16, 256) << i;
}

}  // namespace
