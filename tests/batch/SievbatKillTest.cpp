// The real program killed (SIGKILL) at random moments of its passes over a
// queue of 2 000 pairs, 30 times, each pass starting where the last one was
// killed: after every kill each message is still whole somewhere, and the
// pass that runs to its end leaves exactly what an unbroken pass leaves on a
// copy of the queue.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "tests/TestSupport.h"
#include "tests/faults/FaultScript.h"

namespace {

namespace fs = std::filesystem;
using test_support::Followed;
using test_support::TreeUnder;
using test_support::WriteFile;

std::string Header(int i, const std::string& lines) {
  return "Q 1 smtp\r\n12/06/26 14:03:22\r\nMessage-ID: <" + std::to_string(i) + ">\r\n" + lines + "\r\n";
}

// In turn deleted, held, stripped of the salvage tag and kept.
std::vector<Followed> Messages() {
  std::vector<Followed> messages;
  for (int i = 0; i < 2000; ++i) {
    std::string body = "body " + std::to_string(i) + "\r\n", plain = Header(i, "Subject: hello\r\n");
    switch (i % 4) {
      case 0: messages.push_back({Header(i, "Subject: lottery\r\n"), "", body, true}); break;
      case 1: messages.push_back({Header(i, "From: newsletter@shop\r\n"), "", body}); break;
      case 2: messages.push_back({test_support::Tagged(plain), plain, body}); break;
      default: messages.push_back({plain, "", body});
    }
  }
  return messages;
}

// A queue of the messages, with the name of one to be held taken in Wait:
// that message is held under a collision name.
void MakeQueue(const std::string& queue, const std::vector<Followed>& messages) {
  fs::create_directories(queue + "/Wait");
  for (std::size_t i = 0; i < messages.size(); ++i) {
    WriteFile(queue + "/m" + std::to_string(i) + ".q0", messages[i].header);
    WriteFile(queue + "/m" + std::to_string(i) + ".q1", messages[i].body);
  }
  WriteFile(queue + "/Wait/m1.q0", "theirs");
  WriteFile(queue + "/Wait/m1.q1", "theirs body");
}

TEST(SievbatKilled, ThirtyKillsOnTwoThousandPairsLoseNothing) {
  test_support::TempFolder temp;
  const std::string queue = temp / "q", unbroken = temp / "unbroken";
  const std::string sievbat = test_support::InstallProgram(SIEVBAT_PATH, temp / "prog", faults::kRules);
  const std::vector<Followed> messages = Messages();
  MakeQueue(queue, messages);
  MakeQueue(unbroken, messages);
  std::string output;
  ASSERT_EQ(test_support::RunCommand("'" + sievbat + "' '" + unbroken + "'", &output), 0) << output;

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
    pid_t pass = ::fork();
    if (pass == 0) {
      ::execl(sievbat.c_str(), sievbat.c_str(), queue.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::this_thread::sleep_for(delay);
    ::kill(pass, SIGKILL);
    int status = 0;
    ::waitpid(pass, &status, 0);
    if (!WIFSIGNALED(status)) {
      longest = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
      continue;
    }
    ++kills;
    ASSERT_EQ(test_support::NotWhole(messages, TreeUnder(queue)), "") << "after kill " << kills;
  }
  EXPECT_EQ(kills, 30) << "kills that landed inside a pass";
  // The pass that runs to its end leaves what one unbroken pass leaves.
  ASSERT_EQ(test_support::RunCommand("'" + sievbat + "' '" + queue + "'", &output), 0) << output;
  const faults::FileMap after = faults::ByMessage(TreeUnder(queue)), expected = faults::ByMessage(TreeUnder(unbroken));
  auto [a, e] = std::mismatch(after.begin(), after.end(), expected.begin(), expected.end());
  EXPECT_TRUE(a == after.end() && e == expected.end()) << "first difference: " << (a != after.end() ? a->first : e->first);
}

}  // namespace
