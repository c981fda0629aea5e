#include <gtest/gtest.h>

#include <map>

#include "platform/FileSystem.h"
#include "shared/Module_MySafeRename.h"
#include "tests/TestSupport.h"
#include "tests/faults/FaultScript.h"
#include "tests/platform/FakeFileSystem.h"

namespace {

using Files = std::map<std::string, std::string>;

// One message moved from /src to /dst: the files before and after. A taken
// name in any letter case gives one fresh collision name (c1) to the whole
// message; nothing is ever overwritten.
TEST(SafeRenameMessage, MovesPairsTogetherAndNeverOverwrites) {
  const std::string c1 = test_support::FirstCollisionName();
  struct Case { std::string move; Files before, after; std::string from = "/src", to = "/dst"; } cases[] = {
      {"AbC.Q0", {{"/src/AbC.Q0", "h"}, {"/src/AbC.Q1", "b"}}, {{"/dst/abc.q0", "h"}, {"/dst/abc.q1", "b"}}},
      {"m.q0",  // only the companion's name is taken, in capitals
       {{"/src/m.q0", "h"}, {"/src/m.q1", "b"}, {"/dst/M.Q1", "theirs"}},
       {{"/dst/M.Q1", "theirs"}, {"/dst/" + c1 + ".q0", "h"}, {"/dst/" + c1 + ".q1", "b"}}},
      {"note.txt", {{"/src/note.txt", "m"}, {"/dst/NOTE.TXT", "t"}}, {{"/dst/NOTE.TXT", "t"}, {"/dst/" + c1 + ".txt", "m"}}},
      {"README", {{"/src/README", "m"}, {"/dst/readme", "t"}}, {{"/dst/readme", "t"}, {"/dst/" + c1, "m"}}},
      // A "wwwwww" pair always gets a collision name, a single file keeps it.
      {"wwwwww.q0", {{"/src/wwwwww.q0", "h"}, {"/src/wwwwww.q1", "b"}}, {{"/dst/" + c1 + ".q0", "h"}, {"/dst/" + c1 + ".q1", "b"}}},
      {"wwwwww.txt", {{"/src/wwwwww.txt", "t"}}, {{"/dst/wwwwww.txt", "t"}}},
      // Two dots: no pair, the file moves alone; so does a .q0 without companion.
      {"a.b.q0", {{"/src/a.b.q0", "h"}, {"/src/a.b.q1", "b"}}, {{"/dst/a.b.q0", "h"}, {"/src/a.b.q1", "b"}}},
      {"solo.q0", {{"/src/solo.q0", "h"}}, {{"/dst/solo.q0", "h"}}},
      {"x.q0", {{"/src/x.q0", "h"}}, {{"/src/x.q0", "h"}}, "/src", "/nowhere"},
      {"x.q0", {{"/src/x.q0", "h"}}, {{"/src/x.q0", "h"}}, "/nowhere", "/dst"},
  };
  for (const Case& c : cases) {
    testing_host::FakeFileSystem fs;
    fs.AddFolder("/src");
    fs.AddFolder("/dst");
    for (const auto& [path, bytes] : c.before) fs.AddFile(path, bytes);
    ResetCollisionNameGenerator();
    SafeRenameMessage(c.from, c.to, c.move);
    EXPECT_EQ(fs.Files(), c.after) << c.move << " to " << c.to;
  }
  // A target that cannot be searched has every name taken: the search for
  // a free one ends, and the no-replace move fails safely.
  testing_host::FakeFileSystem fs;
  fs.AddFolder("/dst");
  fs.AddFile("/src/m.q0", "h");
  fs.AddFile("/src/m.q1", "b");
  using testing_host::Op;
  fs.before = [](Op op, const std::string& path) { return !path.starts_with("/dst/") && op != Op::kLink; };
  EXPECT_EQ(SafeRenameMessage("/src", "/dst", "m.q0"), std::nullopt);
  EXPECT_EQ(fs.Files(), (Files{{"/src/m.q0", "h"}, {"/src/m.q1", "b"}}));
}

// What a killed pass left is put right by the next one, except what another
// process still holds: its change is under way, not cut short.
TEST(RecoverInterruptedChanges, FinishesWhatNoProcessHoldsAndLeavesTheRest) {
  testing_host::FakeFileSystem fs;
  fs.AddFile("/q/.~kqnew.1", "half a header");                                // a new version never used
  fs.AddFile("/q/.~kqnew.2", "being written");                                // held: a strip under way
  fs.AddFile("/q/a.q0", "a"), fs.AddFile("/q/.~kqdel.a.q1", "a body");        // a delete cut before the header
  fs.AddFile("/q/.~kqdel.b.q1", "b body");                                    // cut after it
  fs.AddFile("/q/c.q0", "c"), fs.AddFile("/q/c.q1", "c body");                // a hold cut after its link
  fs.AddLink("/q/c.q1", "/q/Wait/c.q1");
  fs.AddLink("/q/c.q1", "/q/c.bak");                                          // not a body: not ours
  fs.AddFile("/q/Wait/d.q0", "d"), fs.AddFile("/q/Wait/d.q1", "d body");      // cut after the header moved
  fs.AddLink("/q/Wait/d.q1", "/q/d.q1");
  fs.AddFile("/q/e.q1", "e body");                                            // a lone body of the remailer's
  fs.AddFile("/q/Errors/e.q0", "e"), fs.AddFile("/q/Errors/e.q1", "other e");
  fs.AddFile("/q/f.q0", "f"), fs.AddFile("/q/f.q1", "f body");                // as c, but another mover
  fs.AddLink("/q/f.q1", "/q/Wait/f.q1");                                      // brings its header in time
  std::unique_ptr<platform::MessageLock> held;
  ASSERT_EQ(fs.LockExact("/q/.~kqnew.2", &held), platform::LockResult::kHeld);
  fs.before = [&fs](testing_host::Op op, const std::string& path) {
    if (op == testing_host::Op::kLock && path == "/q/Wait/f.q1") fs.AddFile("/q/Wait/f.q0", "f");
    return true;
  };

  EXPECT_TRUE(RecoverInterruptedChanges({"/q", "/q/Wait", "/q/Errors"}));
  EXPECT_EQ(faults::Describe(fs.Files()),
            faults::Describe({{"/q/.~kqnew.2", "being written"}, {"/q/a.q0", "a"}, {"/q/a.q1", "a body"},
                              {"/q/c.bak", "c body"}, {"/q/c.q0", "c"}, {"/q/c.q1", "c body"}, {"/q/Wait/d.q0", "d"},
                              {"/q/Wait/d.q1", "d body"}, {"/q/e.q1", "e body"}, {"/q/Errors/e.q0", "e"},
                              {"/q/Errors/e.q1", "other e"}, {"/q/f.q0", "f"}, {"/q/f.q1", "f body"},
                              {"/q/Wait/f.q0", "f"}, {"/q/Wait/f.q1", "f body"}}));
  EXPECT_FALSE(RecoverInterruptedChanges({"/q", "/q/Wait", "/q/Errors"}));  // nothing left to do
}

}  // namespace
