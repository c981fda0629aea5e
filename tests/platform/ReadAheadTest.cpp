// Folders passed on one reading thread and on four: whatever the threads
// read ahead, sievbat --dry-run and --verbose print the same bytes, the pass
// leaves the same tree, and qvue --list prints the same rows, counters and
// faults.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "batch/main_Sievbat.h"
#include "demo/SampleInstallation.h"
#include "platform/ReadAhead.h"
#include "platform/SplitMix.h"
#include "shared/Module_MySafeRename.h"
#include "tests/TestSupport.h"
#include "listing/ListCommand.h"

namespace fs = std::filesystem;

namespace {

using test_support::WriteFile;

std::string List(const std::vector<std::string>& args) {
  char *out = nullptr, *err = nullptr;
  std::size_t out_size = 0, err_size = 0;
  std::FILE* out_file = open_memstream(&out, &out_size);
  std::FILE* err_file = open_memstream(&err, &err_size);
  int status = RunListCommand(args, out_file, err_file);
  std::fclose(out_file);
  std::fclose(err_file);
  std::string all = std::string(out, out_size) + "--- stderr\n" + std::string(err, err_size) +
                    "--- status " + std::to_string(status);
  std::free(out);
  std::free(err);
  return all;
}

// A queue of pairs with random names and header bytes: names of letters in
// both cases, digits and blanks with .q0/.Q0/.q1/.Q1 endings (so companions
// collide in letter case), empty files, headers with the rules' words,
// salvage tags, lone CRs and LFs, NUL bytes.
void MakeFuzzedQueue(const std::string& root) {
  std::uint64_t seed = 20261207;
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(platform::SplitMix64(seed) % n); };
  const std::string letters = "abAB01 ~";
  const char* ends[] = {".q0", ".Q0", ".q1", ".Q1", ".q0", ".q1"};
  const char* lines[] = {"From: news@x", "From: a@b", "Subject: lottery", "Subject: hi", "To: op@x",
                         "X-Salvaged: yes", "X-SALVAGED: YES", "Reply-To: newsletter@y", "Newsgroups: alt.x",
                         "Cc: c", "\n", "\r", "\x00\x01\xff"};
  std::string queue = root + "/Mailout";
  fs::create_directories(queue + "/Wait");
  for (int i = 0; i < 400; ++i) {
    std::string name;
    for (std::size_t n = 1 + pick(3); n > 0; --n) name += letters[pick(letters.size())];
    if (name.front() == ' ') name.front() = 'c';
    std::string bytes;
    if (pick(10) != 0) {
      bytes = "Q 1 smtp\r\n12/06/26 14:03:22\r\n";
      for (std::size_t n = pick(8); n > 0; --n) bytes += std::string(lines[pick(std::size(lines))]) + "\r\n";
    }
    WriteFile(queue + "/" + name + ends[pick(std::size(ends))], bytes);
  }
  for (const char* taken : {"a.q0", "B.Q1", "ab.q0"}) WriteFile(queue + "/Wait/" + taken, "taken");
  WriteFile(root + "/Filter.ini",
            "\"junk-\",\"Subject: \",\"lottery\"\r\n\"bulkW\",\"From: \",\"news\"\r\n\"ngW\",\"Newsgroups: \",\"alt\"\r\n"
            "\"info\",\"To: \",\"op@\"\r\n");
}

// One message in every letter case of its name, bodies in other cases, and
// names taken in Wait, so that holds draw collision names.
void MakeLetterCaseQueue(const std::string& root) {
  std::string queue = root + "/Mailout";
  fs::create_directories(queue + "/Wait");
  for (std::string name : {"a.q0", "A.Q0", "a.Q0", "a.Q1", "A.q1", "b.Q0", "b.q1", "B.q1", "c.q0", "C.Q1", "d.Q0",
                            "D.q1", "e.q0", "E.Q1"}) {
    std::string from = name.front() == 'e' ? "op@x" : "newsletter@x";
    WriteFile(queue + "/" + name,
              name.back() == '1' ? "body" : "Q\r\n12/06/26 14:03:22\r\nFrom: " + from + "\r\nSubject: " + name + "\r\n");
  }
  for (const char* taken : {"a.q0", "A.q1", "c.Q0", "d.q0", "D.Q1"}) WriteFile(queue + "/Wait/" + taken, "taken");
  WriteFile(root + "/Filter.ini", "\"bulkW\",\"From: \",\"newsletter@\"\r\n\"gone-\",\"Subject: \",\"e.q0\"\r\n");
}

struct Row {
  const char* name;
  std::function<void(const std::string& root)> make;
  const char* pairs;             // the queue sievbat passes and --list lists
  const char* single = nullptr;  // a queue of one-file messages --list --single lists
};

const Row kRows[] = {
    {"sample installation",
     [](const std::string& root) { sample::WriteSampleInstallation(root, {.seed = 11, .messages_per_queue = 120}); },
     "Kestrane/Mail/Mailout", "Kestrane/Mail/MailIn"},
    {"fuzzed names and header bytes", MakeFuzzedQueue, "Mailout"},
    {"names in every letter case", MakeLetterCaseQueue, "Mailout"},
};

// What one reading thread count makes of a freshly made folder.
std::vector<std::string> RunAt(unsigned threads, const Row& row, const std::string& root) {
  fs::remove_all(root);
  fs::create_directories(root);
  row.make(root);
  test_support::ScopedEnv threads_env("KESTRANE_THREADS", std::to_string(threads).c_str());
  EXPECT_EQ(platform::ReaderThreadCount(), threads);
  const std::string queue = root + "/" + row.pairs;
  std::vector<std::string> seen;
  seen.push_back(List({queue}));
  if (row.single) seen.push_back(List({"--single", root + "/" + row.single}));
  for (const char* option : {"--dry-run", "--verbose"}) {
    ResetCollisionNameGenerator();
    std::ostringstream out, err;
    int status = Main({option, queue}, out, err);
    seen.push_back(out.str() + "--- stderr\n" + err.str() + "--- status " + std::to_string(status));
  }
  for (const auto& [name, bytes] : test_support::TreeUnder(root)) seen.push_back(name + "\n" + bytes);
  seen.push_back(List({queue}));
  return seen;
}

TEST(ReadAhead, FourThreadsPrintAndLeaveWhatOneThreadDoes) {
  test_support::TempFolder temp;
  const std::string root = temp / "root";
  test_support::TestHost host(root);
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> one = RunAt(1, row, root);
    std::vector<std::string> four = RunAt(4, row, root);
    // The verbose pass acted on messages: the rows are no empty queues.
    EXPECT_NE(one[row.single ? 3 : 2].find("hold\t"), std::string::npos) << one[row.single ? 3 : 2];
    ASSERT_EQ(one.size(), four.size());
    for (std::size_t i = 0; i < one.size(); ++i) EXPECT_EQ(one[i], four[i]);
  }
}

// KESTRANE_THREADS counts when it is a whole number from 1 to 64; anything
// else leaves one thread per online processor.
TEST(ReadAhead, ThreadCountFromTheEnvironment) {
  test_support::ScopedEnv threads_env("KESTRANE_THREADS", nullptr);
  const unsigned online = platform::ReaderThreadCount();
  const std::pair<const char*, unsigned> cases[] = {
      {"1", 1},       {"64", 64},     {"0004", 4},    {"65", online}, {"0", online}, {"", online},
      {"4x", online}, {" 4", online}, {"-4", online}, {"+4", online}, {"18446744073709551620", online}};
  for (auto [value, expected] : cases) {
    ::setenv("KESTRANE_THREADS", value, 1);
    EXPECT_EQ(platform::ReaderThreadCount(), expected) << '"' << value << '"';
  }
}

// Reading threads look names up in another letter case while the pass's
// thread renames in the same folder: both use the real host's index of
// capitalised names, which must stay whole (ThreadSanitizer watches).
TEST(ReadAhead, LookupsInAnotherLetterCaseWhileTheFolderChanges) {
  test_support::TempFolder temp;
  test_support::TestHost host_fs(temp.path());
  for (int i = 0; i < 100; ++i) WriteFile(temp / ("M" + std::to_string(i) + ".Q0"), "x");
  std::atomic<bool> done = false;
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!done) {
        for (int i = 0; i < 100; ++i) host_fs.FileLength(temp / ("m" + std::to_string(i) + ".q0"));
      }
    });
  }
  for (int i = 0; i < 100; ++i) {
    host_fs.RenameNoReplace(temp / ("M" + std::to_string(i) + ".Q0"), temp / ("N" + std::to_string(i) + ".Q0"));
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(host_fs.FileLength(temp / "n99.q0"), 1u);
  EXPECT_EQ(host_fs.FileLength(temp / "m0.q0"), std::nullopt);
}

}  // namespace
