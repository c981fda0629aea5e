// The batch filter's pass under forced faults: refused opens, reads that
// fail half-way, files and folders that vanish or names that get taken at
// the worst moment, a full disk. Every case states the whole tree afterwards,
// as a difference from what a pass without faults leaves.
#include <gtest/gtest.h>

#include <sstream>

#include "batch/main_Sievbat.h"
#include "platform/Text.h"
#include "shared/Module_MySafeRename.h"
#include "shared/Module_SalvageTag.h"
#include "tests/faults/FaultScript.h"

namespace {

using namespace faults;

const std::string kQ = "/q";
const std::string kW = "/q/Wait";

std::string Header(const std::string& lines) { return "Q 1 smtp relay 0\r\n12/06/26 14:03:22\r\n" + lines + "\r\n"; }

// Rules: a "-" tag deletes, a "W" tag holds.
const std::string kRules = "\"junk-\",\"Subject: \",\"lottery\"\r\n\"bulkW\",\"From: \",\"newsletter@\"\r\n";
const std::string kDel = Header("From: a@x\r\nTo: op@example.net\r\nSubject: you won the lottery\r\n");
const std::string kHold = Header("From: newsletter@shop\r\nTo: op@example.net\r\nSubject: news\r\n");
const std::string kPlain = Header("From: a@x\r\nTo: op@example.net\r\nSubject: hello\r\n");
// Salvaged in the viewer although a delete rule matches.
const std::string kSalv = kDel.substr(0, kDel.size() - 2) + std::string(SalvageTagText);
// Matches the delete rule in its Subject line and, further down, the hold
// rule in its From line; the From list is checked first, so it is held.
const std::string kSubjectFirst = Header("Subject: lottery\r\nFrom: newsletter@shop\r\n");

FileMap StartTree() {
  return {
      {"/prog/Filter.ini", kRules},
      {kW + "/old.q0", "waiting"},           {kW + "/old.q1", "waiting body"},
      {kQ + "/a-del.q0", kDel},              {kQ + "/a-del.q1", "del body"},
      {kQ + "/b-hold.q0", kHold},            {kQ + "/b-hold.q1", "hold body"},
      {kQ + "/c-salv.q0", kSalv},            {kQ + "/c-salv.q1", "salv body"},
      {kQ + "/d-plain.q0", kPlain},          {kQ + "/d-plain.q1", "plain body"},
  };
}

// What a pass without faults leaves: the deleted pair gone, the held pair in
// Wait, the salvage tag stripped, the plain pair untouched.
FileMap CleanPass() {
  return Apply(StartTree(), {
                                {kQ + "/a-del.q0", std::nullopt},
                                {kQ + "/a-del.q1", std::nullopt},
                                {kQ + "/b-hold.q0", std::nullopt},
                                {kQ + "/b-hold.q1", std::nullopt},
                                {kW + "/b-hold.q0", kHold},
                                {kW + "/b-hold.q1", "hold body"},
                                {kQ + "/c-salv.q0", kDel},
                            });
}

std::string FirstCollisionName() {
  ResetCollisionNameGenerator();
  std::string name = platform::AsciiLower(NewCollisionName());
  ResetCollisionNameGenerator();
  return name;
}

// Number of reads the header reader makes of `bytes` in pieces of `chunk`.
int ReadsOf(const std::string& bytes, std::size_t chunk) {
  return static_cast<int>((bytes.size() + chunk - 1) / chunk);
}

struct SievbatCase {
  std::string name = {};
  Delta extra = {};  // files added to the start tree
  std::vector<Fault> faults = {};
  std::size_t read_chunk = 4096;
  std::optional<std::size_t> free_bytes = {};
  Delta expected = {};  // the tree afterwards, against CleanPass() (extra files included)
  std::vector<std::string> folders_gone = {};
  std::vector<std::string> folders_added = {};  // to the start tree
};

// Test names show the case's name, not its bytes.
void PrintTo(const SievbatCase& c, std::ostream* os) { *os << c.name; }

std::vector<SievbatCase> Cases() {
  const std::string c1 = FirstCollisionName();
  const Delta untouched_salvage = {{kQ + "/c-salv.q0", kSalv}};
  const Delta hold_stays = {{kQ + "/b-hold.q0", kHold},
                            {kQ + "/b-hold.q1", "hold body"},
                            {kW + "/b-hold.q0", std::nullopt},
                            {kW + "/b-hold.q1", std::nullopt},
                            {kW + "/old.q0", std::nullopt},
                            {kW + "/old.q1", std::nullopt}};
  const std::size_t before_tag = kSalv.find(SalvageTagHeader);
  const std::size_t before_from = kSubjectFirst.find("From: ");
  return {
      {.name = "NoFault", .expected = {}},

      // Open refused: the message is left as it is, whatever its rule.
      {.name = "HeaderOpenRefused",
       .faults = {Refuse(Op::kOpenRead, kQ + "/a-del.q0")},
       .expected = {{kQ + "/a-del.q0", kDel}, {kQ + "/a-del.q1", "del body"}}},
      {.name = "SalvagedHeaderOpenRefused",
       .faults = {Refuse(Op::kOpenRead, kQ + "/c-salv.q0")},
       .expected = untouched_salvage},
      {.name = "OpenForTheStripRefused",
       .faults = {Refuse(Op::kOpenRead, kQ + "/c-salv.q0", 2)},
       .expected = untouched_salvage},

      // Reads failing half-way.
      {.name = "ReadOfTheStripFailsHalfway",
       .faults = {Refuse(Op::kRead, kQ + "/c-salv.q0", ReadsOf(kSalv, 8) + 2)},
       .read_chunk = 8,
       .expected = untouched_salvage},
      {.name = "ReadFailsBeforeTheRuleLine",
       .faults = {Refuse(Op::kRead, kQ + "/a-del.q0", 2)},
       .read_chunk = 16,
       .expected = {{kQ + "/a-del.q0", kDel}, {kQ + "/a-del.q1", "del body"}}},
      // The read ends before the tag: the rules see the Subject alone.
      {.name = "ReadFailsBeforeTheSalvageTag",
       .faults = {Refuse(Op::kRead, kQ + "/c-salv.q0", 2)},
       .read_chunk = before_tag,
       .expected = untouched_salvage},
      // The read ends before the From line that would have held it.
      {.name = "ReadFailsBeforeTheHoldRuleLine",
       .extra = {{kQ + "/e-first.q0", kSubjectFirst}, {kQ + "/e-first.q1", "first body"}},
       .faults = {Refuse(Op::kRead, kQ + "/e-first.q0", 2)},
       .read_chunk = before_from,
       .expected = {{kQ + "/e-first.q0", kSubjectFirst}, {kQ + "/e-first.q1", "first body"}}},

      // Vanishing between the listing and the read.
      {.name = "HeaderVanishesBeforeItsRead",
       .faults = {Before(Op::kOpenRead, kQ + "/a-del.q0", 1, Vanish({kQ + "/a-del.q0"}))},
       .expected = {{kQ + "/a-del.q1", "del body"}}},

      // Vanishing between the classification and the action.
      {.name = "HeaderVanishesBeforeItsDelete",  // the companion is still removed
       .faults = {Before(Op::kRemove, kQ + "/a-del.q0", 1, Vanish({kQ + "/a-del.q0"}))},
       .expected = {}},
      {.name = "HeaderVanishesBeforeItsHold",  // the companion never moves alone
       .faults = {Before(Op::kRename, kQ + "/b-hold.q0", 1, Vanish({kQ + "/b-hold.q0"}))},
       .expected = {{kW + "/b-hold.q0", std::nullopt}, {kW + "/b-hold.q1", std::nullopt},
                    {kQ + "/b-hold.q1", "hold body"}}},
      // The body cannot follow its header: the header is moved back.
      {.name = "CompanionVanishesBeforeItFollows",
       .faults = {Before(Op::kRename, kQ + "/b-hold.q1", 1, Vanish({kQ + "/b-hold.q1"}))},
       .expected = {{kW + "/b-hold.q0", std::nullopt}, {kW + "/b-hold.q1", std::nullopt},
                    {kQ + "/b-hold.q0", kHold}}},
      {.name = "CompanionTargetTakenBeforeItFollows",
       .faults = {Before(Op::kRename, kQ + "/b-hold.q1", 1, Take(kW + "/b-hold.q1", "theirs"))},
       .expected = {{kW + "/b-hold.q0", std::nullopt}, {kW + "/b-hold.q1", "theirs"},
                    {kQ + "/b-hold.q0", kHold}, {kQ + "/b-hold.q1", "hold body"}}},
      // Another of our programs comes for the pair while its header stands in
      // Wait and its body is still here: it finds both locked and leaves them.
      {.name = "ReleasedBackWhileItsBodyIsStillHere",
       .faults = {Before(Op::kRename, kQ + "/b-hold.q1", 1,
                         [](FakeFileSystem&) { EXPECT_FALSE(SafeRenameMessage(kW, kQ, "b-hold.q0")); })},
       .expected = {}},
      {.name = "DeletedWhileItsHeaderIsAlreadyInWait",
       .faults = {Before(Op::kRename, kQ + "/b-hold.q1", 1,
                         [](FakeFileSystem&) { EXPECT_FALSE(DeleteMessageFiles(kQ + "/b-hold.q0")); })},
       .expected = {}},
      {.name = "PairLockedByAnotherProgram",  // held next pass
       .faults = {Refuse(Op::kLock, kQ + "/b-hold.q0"), Refuse(Op::kLock, kQ + "/a-del.q1")},
       .expected = {{kQ + "/a-del.q0", kDel}, {kQ + "/a-del.q1", "del body"},
                    {kW + "/b-hold.q0", std::nullopt}, {kW + "/b-hold.q1", std::nullopt},
                    {kQ + "/b-hold.q0", kHold}, {kQ + "/b-hold.q1", "hold body"}}},
      {.name = "SalvagedFileVanishesBeforeTheCut",
       .faults = {Before(Op::kTruncate, kQ + "/c-salv.q0", 1, Vanish({kQ + "/c-salv.q0"}))},
       .expected = {{kQ + "/c-salv.q0", std::nullopt}}},
      {.name = "SalvagedFileVanishesBeforeTheStripOpensIt",  // not re-created
       .faults = {Before(Op::kOpenRead, kQ + "/c-salv.q0", 2, Vanish({kQ + "/c-salv.q0"}))},
       .expected = {{kQ + "/c-salv.q0", std::nullopt}}},
      {.name = "CutOfTheSalvagedFileRefused",  // no stray CR LF appended
       .faults = {Refuse(Op::kTruncate, kQ + "/c-salv.q0")},
       .expected = untouched_salvage},
      {.name = "CompanionVanishesBeforeTheDelete",  // the header still goes
       .faults = {Before(Op::kRemove, kQ + "/a-del.q0", 1, Vanish({kQ + "/a-del.q1"}))},
       .expected = {}},
      // The operator moves the message to Wait and the remailer writes a new
      // file under its old name during the strip: the strip finishes on the
      // moved file, the newcomer is not touched.
      {.name = "MessageMovedDuringTheStrip",
       .faults = {Before(Op::kWriteAt, kQ + "/c-salv.q0", 1,
                         [](FakeFileSystem& fs) {
                           fs.RenameNoReplace(kQ + "/c-salv.q0", kW + "/c-salv.q0");
                           fs.AddFile(kQ + "/c-salv.q0", "newcomer");
                         })},
       .expected = {{kQ + "/c-salv.q0", "newcomer"}, {kW + "/c-salv.q0", kDel}}},

      // Hold targets taken at the rename: never overwritten, the pair stays.
      {.name = "HoldTargetTakenAtTheRename",
       .faults = {Before(Op::kRename, kQ + "/b-hold.q0", 1, Take(kW + "/b-hold.q0", "theirs"))},
       .expected = {{kQ + "/b-hold.q0", kHold}, {kQ + "/b-hold.q1", "hold body"}, {kW + "/b-hold.q0", "theirs"},
                    {kW + "/b-hold.q1", std::nullopt}}},
      {.name = "HoldTargetTakenInOtherCaseAtTheRename",
       .faults = {Before(Op::kRename, kQ + "/b-hold.q0", 1, Take(kW + "/B-HOLD.Q0", "theirs"))},
       .expected = {{kQ + "/b-hold.q0", kHold}, {kQ + "/b-hold.q1", "hold body"}, {kW + "/b-hold.q0", std::nullopt},
                    {kW + "/b-hold.q1", std::nullopt}, {kW + "/B-HOLD.Q0", "theirs"}}},
      // A folder has the hold's name: the pair moves whole under a collision name.
      {.name = "HoldTargetNameIsAFolder",
       .expected = {{kW + "/b-hold.q0", std::nullopt},
                    {kW + "/b-hold.q1", std::nullopt},
                    {kW + "/" + c1 + ".q0", kHold},
                    {kW + "/" + c1 + ".q1", "hold body"}},
       .folders_added = {kW + "/B-Hold.Q0"}},
      {.name = "HoldTargetTakenInOtherCaseBeforeThePass",
       .extra = {{kW + "/B-HOLD.Q0", "theirs"}},
       .expected = {{kW + "/B-HOLD.Q0", "theirs"},
                    {kW + "/b-hold.q0", std::nullopt},
                    {kW + "/b-hold.q1", std::nullopt},
                    {kW + "/" + c1 + ".q0", kHold},
                    {kW + "/" + c1 + ".q1", "hold body"}}},

      // Letter case: another case is used only when it is unambiguous.
      {.name = "OtherCaseCompanionOfAnotherHeaderIsNeverTaken",
       .extra = {{kQ + "/F.q0", kDel}, {kQ + "/f.q0", kPlain}, {kQ + "/f.q1", "f body"}},
       .expected = {{kQ + "/F.q0", kDel}, {kQ + "/f.q0", kPlain}, {kQ + "/f.q1", "f body"}}},
      {.name = "OtherCaseCompanionAloneIsTaken",
       .extra = {{kQ + "/G.q0", kDel}, {kQ + "/g.q1", "g body"}},
       .expected = {}},
      {.name = "TwoOtherCaseCompanionsAreAmbiguous",
       .extra = {{kQ + "/H.q0", kDel}, {kQ + "/h.q1", "1"}, {kQ + "/h.Q1", "2"}},
       .expected = {{kQ + "/H.q0", kDel}, {kQ + "/h.q1", "1"}, {kQ + "/h.Q1", "2"}}},

      // The salvage tag: only the tag lines go, wherever they stand, in any case.
      {.name = "TagLineInTheMiddleOfTheHeader",
       .extra = {{kQ + "/t-mid.q0", Header("From: a@x\r\nX-Salvaged: yes\r\nTo: op@x\r\nSubject: lottery\r\n")},
                 {kQ + "/t-mid.q1", "t body"}},
       .expected = {{kQ + "/t-mid.q0", Header("From: a@x\r\nTo: op@x\r\nSubject: lottery\r\n")},
                    {kQ + "/t-mid.q1", "t body"}}},
      {.name = "TagInCapitalsAtTheEnd",
       .extra = {{kQ + "/t-caps.q0", Header("Subject: lottery\r\nx-salvaged: YES\r\n")},
                 {kQ + "/t-caps.q1", "t body"}},
       .expected = {{kQ + "/t-caps.q0", Header("Subject: lottery\r\n")}, {kQ + "/t-caps.q1", "t body"}}},

      // Folders removed during the pass: the rest goes on, nothing is created.
      {.name = "WaitRemovedAfterTheFirstMessage",
       .faults = {Before(Op::kOpenRead, kQ + "/b-hold.q0", 1, Vanish({kW}))},
       .expected = hold_stays,
       .folders_gone = {kW}},
      {.name = "WaitRemovedBetweenTheNameTestAndTheRename",
       .faults = {Before(Op::kRename, kQ + "/b-hold.q0", 1, Vanish({kW}))},
       .expected = hold_stays,
       .folders_gone = {kW}},
      {.name = "QueueRemovedAfterTheFirstMessage",
       .faults = {Before(Op::kOpenRead, kQ + "/b-hold.q0", 1, Vanish({kQ}))},
       .expected = {{kW + "/old.q0", std::nullopt},
                    {kW + "/old.q1", std::nullopt},
                    {kW + "/b-hold.q0", std::nullopt},
                    {kW + "/b-hold.q1", std::nullopt},
                    {kQ + "/c-salv.q0", std::nullopt},
                    {kQ + "/c-salv.q1", std::nullopt},
                    {kQ + "/d-plain.q0", std::nullopt},
                    {kQ + "/d-plain.q1", std::nullopt}},
       .folders_gone = {kQ}},

      // A full disk: deletes and moves need no space; the strip makes the
      // file shorter, so it should end stripped whole.
      {.name = "DiskFullDuringTheStrip",
       .free_bytes = 0,
       .expected = {}},
      {.name = "DiskFullOneByteIntoTheStrip",
       .free_bytes = 1,
       .expected = {}},
  };
}

class SievbatFaultTable : public ::testing::TestWithParam<SievbatCase> {
 protected:
  FakeFileSystem fs;
  platform::ScopedHost host{fs};
};

TEST_P(SievbatFaultTable, LeavesExactlyTheseFiles) {
  const SievbatCase& c = GetParam();
  for (const auto& [path, bytes] : Apply(StartTree(), c.extra)) fs.AddFile(path, bytes);
  for (const std::string& folder : c.folders_added) fs.AddFolder(folder);
  fs.read_chunk = c.read_chunk;
  fs.free_bytes = c.free_bytes;
  auto seen = Install(fs, c.faults);
  ResetCollisionNameGenerator();

  std::ostringstream out, err;
  EXPECT_EQ(Main({kQ}, out, err), 0);
  EXPECT_EQ(out.str() + err.str(), "");
  fs.before = nullptr;
  EXPECT_EQ(Unfired(c.faults, *seen), "");
  for (const std::string& folder : c.folders_gone) EXPECT_FALSE(fs.PathExists(folder)) << folder;

  EXPECT_EQ(Describe(fs.Files()), Describe(Apply(CleanPass(), c.expected)));
}

INSTANTIATE_TEST_SUITE_P(Faults, SievbatFaultTable, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<SievbatCase>& row) { return row.param.name; });

// A queue folder that exists but cannot be listed (no right, a network
// share gone): nothing is touched, and the pass must not end as if it was done.
TEST(SievbatFolderFaults, AFolderThatCannotBeListedIsReportedAsAFailure) {
  FakeFileSystem fs;
  platform::ScopedHost host(fs);
  for (const auto& [path, bytes] : StartTree()) fs.AddFile(path, bytes);
  Install(fs, {Refuse(Op::kList, kQ)});
  std::ostringstream out, err;
  int status = Main({kQ}, out, err);
  EXPECT_EQ(Describe(fs.Files()), Describe(StartTree()));
  EXPECT_NE(status, 0);
  EXPECT_NE(err.str(), "");
}

}  // namespace
