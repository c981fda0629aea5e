// A sievbat pass killed before each of its changes to the tree, in turn, and
// the next pass after it: the tree must end as one whole pass leaves it, and
// at the instant of death every message is still whole somewhere. (The
// salvaged messages match no rule once stripped, so that a second pass
// leaves what one pass left.)
#include <gtest/gtest.h>

#include <sstream>

#include "batch/main_Sievbat.h"
#include "tests/TestSupport.h"
#include "tests/faults/FaultScript.h"

namespace {

using namespace faults;

const std::string kQ = "/q";
const std::string kW = "/q/Wait";

// The messages with the header each pass leaves; c-taken's name is taken
// in Wait, so its hold draws a collision name.
std::vector<test_support::Followed> Messages(bool taken_name) {
  std::string x(150 * 1024, 'x'), y(150 * 1024, 'y');
  std::vector<test_support::Followed> messages = {
      {kDel, "", "del body", true},
      {kHold, "", "hold body"},
      {Header("From: a@x\r\nX-Salvaged: yes\r\nSubject: hi\r\n"), Header("From: a@x\r\nSubject: hi\r\n"), "small"},
      // A header of 300 KiB whose tag line stands in its middle.
      {Header("From: a@x\r\n" + x + "\r\nX-Salvaged: yes\r\n" + y + "\r\n"), Header("From: a@x\r\n" + x + "\r\n" + y + "\r\n"),
       "big body"},
      {Tagged(kPlain), kPlain, "viewer body"},
      {kPlain, "", "plain body"},
  };
  if (taken_name) messages.push_back({kHold + "c", "", "taken body"});
  return messages;
}

CrashScript SievbatPass(bool hard_links) {
  const std::vector<test_support::Followed> messages = Messages(hard_links);
  auto pass = [] {
    std::ostringstream out, err;
    Main({kQ}, out, err);
  };
  return CrashScript{
      .build =
          [messages](FakeFileSystem& fs) {
            fs.AddFile("/prog/Filter.ini", kRules);
            fs.AddFile(kW + "/c-taken.q0", "theirs");
            const char* names[] = {"a-del", "b-hold", "d-small", "e-big", "f-viewer", "g-plain", "c-taken"};
            for (std::size_t i = 0; i < messages.size(); ++i) {
              fs.AddFile(kQ + "/" + names[i] + ".q0", messages[i].header);
              fs.AddFile(kQ + "/" + names[i] + ".q1", messages[i].body);
            }
          },
      .run = pass,
      .recover = pass,
      .check = [messages](const FileMap& files) { return test_support::NotWhole(messages, files); },
      .hard_links = hard_links,
  };
}

TEST(SievbatCrash, APassKilledAtAnyChangeIsFinishedByTheNext) { EXPECT_EQ(CrashAtEveryChange(SievbatPass(true)), ""); }

// Without hard links a hold is two renames: a kill between them is
// finished by the next pass when the message kept its own name.
TEST(SievbatCrash, WithoutHardLinksTooWhenTheNameIsFree) { EXPECT_EQ(CrashAtEveryChange(SievbatPass(false)), ""); }

}  // namespace
