// The real program killed (SIGKILL) at random moments of its passes over a
// queue of 2 000 pairs, 30 times, each pass starting where the last one was
// killed: after every kill each message is still whole somewhere, and the
// pass that runs to its end leaves exactly what an unbroken pass leaves.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "shared/Module_SalvageTag.h"
#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

enum class Fate { kDeleted, kHeld, kStripped, kKept };

struct Message {
  std::string header, stripped, body;
  Fate fate;
};

std::string Header(int i, const std::string& lines) {
  return "Q 1 smtp\r\n12/06/26 14:03:22\r\nMessage-ID: <" + std::to_string(i) + ">\r\n" + lines + "\r\n";
}

std::vector<Message> Messages() {
  std::vector<Message> messages;
  for (int i = 0; i < 2000; ++i) {
    std::string body = "body " + std::to_string(i) + "\r\n";
    switch (i % 4) {
      case 0: messages.push_back({Header(i, "Subject: lottery\r\n"), "", body, Fate::kDeleted}); break;
      case 1: messages.push_back({Header(i, "From: newsletter@shop\r\n"), "", body, Fate::kHeld}); break;
      case 2: {
        std::string plain = Header(i, "Subject: hello\r\n");
        std::string tagged = plain.substr(0, plain.size() - 2) + std::string(SalvageTagText);
        messages.push_back({tagged, plain, body, Fate::kStripped});
        break;
      }
      default: messages.push_back({Header(i, "Subject: hello\r\n"), "", body, Fate::kKept});
    }
  }
  return messages;
}

// Every file of the queue and its Wait, hidden ones included, by path.
std::map<std::string, std::string> Tree(const std::string& queue) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(queue)) {
    if (entry.is_regular_file()) files[entry.path().string()] = ReadFile(entry.path().string());
  }
  return files;
}

// At the instant of a kill: every header is its old or its new form, and
// every message that is not being deleted has its header and body somewhere.
std::string Whole(const std::vector<Message>& messages, const std::map<std::string, std::string>& files) {
  std::map<std::string, int> seen;
  for (const auto& [path, bytes] : files) ++seen[bytes];
  std::map<std::string, const Message*> by_header;
  for (const Message& m : messages) {
    by_header[m.header] = &m;
    if (!m.stripped.empty()) by_header[m.stripped] = &m;
  }
  for (const auto& [path, bytes] : files) {
    if (path.ends_with(".q0") && path.find("/.") == std::string::npos && !by_header.contains(bytes) && bytes != "theirs") {
      return path + " is neither an old nor a new header";
    }
  }
  for (const Message& m : messages) {
    if (m.fate == Fate::kDeleted) continue;
    bool header = seen.contains(m.header) || (!m.stripped.empty() && seen.contains(m.stripped));
    if (!header || !seen.contains(m.body)) return "lost: " + m.header;
  }
  return "";
}

// After the pass that ran to its end: each message where its fate put it,
// whole, as a pair of one name, and nothing else in the queue.
std::string Finished(const std::vector<Message>& messages, const std::map<std::string, std::string>& files,
                     const std::string& queue) {
  std::multimap<std::string, std::string> expected, found;  // folder -> header + body
  for (const Message& m : messages) {
    if (m.fate == Fate::kDeleted) continue;
    expected.insert({m.fate == Fate::kHeld ? queue + "/Wait" : queue,
                     (m.fate == Fate::kStripped ? m.stripped : m.header) + "|" + m.body});
  }
  expected.insert({queue + "/Wait", "theirs|theirs body"});
  for (const auto& [path, bytes] : files) {
    if (path.find("/.") != std::string::npos) return "left behind: " + path;
    if (!path.ends_with(".q0")) continue;
    auto body = files.find(path.substr(0, path.size() - 1) + "1");
    if (body == files.end()) return "no body: " + path;
    found.insert({fs::path(path).parent_path().string(), bytes + "|" + body->second});
  }
  for (const auto& [path, bytes] : files) {
    if (path.ends_with(".q1") && !files.contains(path.substr(0, path.size() - 1) + "0")) return "no header: " + path;
  }
  for (const auto& [folder, message] : expected) {
    auto it = found.find(folder);
    while (it != found.end() && it->first == folder && it->second != message) ++it;
    if (it == found.end() || it->first != folder) return "missing from " + folder + ": " + message;
    found.erase(it);
  }
  return found.empty() ? "" : "more than one pass leaves: " + found.begin()->first + ": " + found.begin()->second;
}

pid_t StartPass(const std::string& program, const std::string& queue) {
  pid_t child = ::fork();
  if (child == 0) {
    ::execl(program.c_str(), program.c_str(), queue.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return child;
}

TEST(SievbatKilled, ThirtyKillsOnTwoThousandPairsLoseNothing) {
  test_support::TempFolder temp;
  fs::create_directory(temp / "prog");
  fs::copy_file(SIEVBAT_PATH, temp / "prog/sievbat");
  fs::permissions(temp / "prog/sievbat", fs::perms::owner_all);
  WriteFile(temp / "prog/Filter.ini", "\"junk-\",\"Subject: \",\"lottery\"\r\n\"bulkW\",\"From: \",\"newsletter@\"\r\n");
  const std::string queue = temp / "q";
  fs::create_directories(queue + "/Wait");
  const std::vector<Message> messages = Messages();
  for (std::size_t i = 0; i < messages.size(); ++i) {
    WriteFile(queue + "/m" + std::to_string(i) + ".q0", messages[i].header);
    WriteFile(queue + "/m" + std::to_string(i) + ".q1", messages[i].body);
  }
  // A name taken in Wait: that message is held under a collision name.
  WriteFile(queue + "/Wait/m1.q0", "theirs");
  WriteFile(queue + "/Wait/m1.q1", "theirs body");

  // Each run kills at other moments; a failing run tells its seed.
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // Kill moments are drawn within the time the last whole pass took, so
  // that they keep landing inside passes as the work left grows smaller.
  auto longest = std::chrono::microseconds(60000);
  int kills = 0;
  for (int attempt = 0; kills < 30 && attempt < 300; ++attempt) {
    auto delay = std::chrono::microseconds(
        std::uniform_int_distribution<long>(0, std::max<long>(longest.count(), 2000))(random));
    auto start = std::chrono::steady_clock::now();
    pid_t pass = StartPass(temp / "prog/sievbat", queue);
    std::this_thread::sleep_for(delay);
    ::kill(pass, SIGKILL);
    int status = 0;
    ::waitpid(pass, &status, 0);
    if (!WIFSIGNALED(status)) {
      longest = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
      continue;
    }
    ++kills;
    ASSERT_EQ(Whole(messages, Tree(queue)), "") << "after kill " << kills;
  }
  EXPECT_EQ(kills, 30) << "kills that landed inside a pass";
  int status = 0;
  ::waitpid(StartPass(temp / "prog/sievbat", queue), &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Finished(messages, Tree(queue), queue), "");
}

}  // namespace
