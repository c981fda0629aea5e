// A sievbat pass killed before each of its changes to the tree, in turn, and
// the next pass after it: the tree must end as one whole pass leaves it, and
// at the instant of death every message is still whole somewhere. (The
// salvaged messages match no rule once stripped, so that a second pass
// leaves what one pass left.)
#include <gtest/gtest.h>

#include <sstream>

#include "batch/main_Sievbat.h"
#include "shared/Module_SalvageTag.h"
#include "tests/faults/FaultScript.h"

namespace {

using namespace faults;

const std::string kQ = "/q";
const std::string kW = "/q/Wait";

std::string Header(const std::string& lines) { return "Q 1 smtp\r\n12/06/26 14:03:22\r\n" + lines + "\r\n"; }
std::string ViewerTagged(const std::string& header) {
  return header.substr(0, header.size() - 2) + std::string(SalvageTagText);
}

const std::string kRules = "\"junk-\",\"Subject: \",\"lottery\"\r\n\"bulkW\",\"From: \",\"newsletter@\"\r\n";
const std::string kDel = Header("From: a@x\r\nSubject: you won the lottery\r\n");
const std::string kHold = Header("From: newsletter@shop\r\nSubject: news\r\n");
const std::string kPlain = Header("From: a@x\r\nSubject: hello\r\n");
// A header of 300 KiB whose tag line stands in its middle.
const std::string kBig = Header("From: a@x\r\n" + std::string(150 * 1024, 'x') + "\r\nX-Salvaged: yes\r\n" +
                                std::string(150 * 1024, 'y') + "\r\n");

struct Message {
  std::string name, header, body;
  std::string stripped = {};  // the header without its tag, when it has one
};

std::vector<Message> Messages(bool taken_name) {
  std::vector<Message> messages = {
      {"a-del", kDel, "del body"},
      {"b-hold", kHold, "hold body"},
      {"d-small", Header("From: a@x\r\nX-Salvaged: yes\r\nSubject: hi\r\n"), "small body",
       Header("From: a@x\r\nSubject: hi\r\n")},
      {"e-big", kBig, "big body", Header("From: a@x\r\n" + std::string(150 * 1024, 'x') + "\r\n" +
                                         std::string(150 * 1024, 'y') + "\r\n")},
      {"f-viewer", ViewerTagged(kPlain), "viewer body", kPlain},
      {"g-plain", kPlain, "plain body"},
  };
  if (taken_name) messages.push_back({"c-taken", kHold + "c", "taken body"});
  return messages;
}

// Every header seen is one of a message's two forms (or another program's
// file), and every message that is not being deleted is still there.
std::string Whole(const std::vector<Message>& messages, const FileMap& files) {
  std::string faults;
  auto holds = [&](const std::string& bytes) {
    for (const auto& [path, b] : files)
      if (b == bytes) return true;
    return false;
  };
  for (const auto& [path, bytes] : files) {
    if (!path.ends_with(".q0") || bytes == "theirs" || path.find("/.") != std::string::npos) continue;
    bool known = false;
    for (const Message& m : messages) known |= bytes == m.header || (!m.stripped.empty() && bytes == m.stripped);
    if (!known) faults += path + " is neither its old nor its new header; ";
  }
  for (const Message& m : messages) {
    if (m.name == "a-del") continue;
    if (!holds(m.body) || !(holds(m.header) || (!m.stripped.empty() && holds(m.stripped)))) {
      faults += m.name + " lost; ";
    }
  }
  return faults;
}

CrashScript SievbatPass(bool hard_links) {
  const std::vector<Message> messages = Messages(hard_links);
  auto pass = [] {
    std::ostringstream out, err;
    Main({kQ}, out, err);
  };
  return CrashScript{
      .build =
          [messages](FakeFileSystem& fs) {
            fs.AddFile("/prog/Filter.ini", kRules);
            fs.AddFolder(kW);
            fs.AddFile(kW + "/c-taken.q0", "theirs");
            for (const Message& m : messages) {
              fs.AddFile(kQ + "/" + m.name + ".q0", m.header);
              fs.AddFile(kQ + "/" + m.name + ".q1", m.body);
            }
          },
      .run = pass,
      .recover = pass,
      .check = [messages](const FileMap& files) { return Whole(messages, files); },
      .hard_links = hard_links,
  };
}

TEST(SievbatCrash, APassKilledAtAnyChangeIsFinishedByTheNext) { EXPECT_EQ(CrashAtEveryChange(SievbatPass(true)), ""); }

// Without hard links a hold is two renames: a kill between them is
// finished by the next pass when the message kept its own name.
TEST(SievbatCrash, WithoutHardLinksTooWhenTheNameIsFree) { EXPECT_EQ(CrashAtEveryChange(SievbatPass(false)), ""); }

}  // namespace
