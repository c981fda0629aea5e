// The soak: for S seconds a writer child publishes, renames and sends pairs
// in Mailout as the remailer does, a mover child moves and salvages messages
// between Mailout, Wait and Errors with SafeRenameMessage, and this process
// runs sievbat (Filter.ini: Subject "DELETE-ME" deleted, From "hold@" held)
// on Mailout again and again. After a last pass every file is identified by
// the message id inside it: a file lost, overwritten, duplicated or split
// fails the run (exit status 1; the folder is kept, as with --keep).
//   soak_driver [--seconds S (the test: 40)] [--seed N] [--keep]
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SplitMix.h"
#include "platform/Text.h"
#include "shared/Module_MySafeRename.h"
#include "shared/Module_SalvageTag.h"
#include "tests/TestSupport.h"

namespace {

using test_support::ReadFile;

volatile sig_atomic_t g_stop = 0;
long g_faults = 0;

// Prints a fault (the first 40) and counts it.
void Fault(const std::string& text) {
  if (g_faults++ < 40) std::printf("FAULT: %s\n", text.c_str());
}
std::uint64_t Mix(std::uint64_t z) { return platform::SplitMix64(z); }
bool RenameNoReplace(const std::string& from, const std::string& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}
bool Exists(const std::string& path) { struct stat st {}; return ::lstat(path.c_str(), &st) == 0; }

enum Folder { kMailout, kWait, kErrors };
enum Class { kPlain, kJunk, kHold };
constexpr std::string_view kIdMark = "\r\nX-Soak-Id: ", kBodyMark = "X-Soak-Body: ";

// A message is made from the run's seed and its id alone, so the checker
// rebuilds the exact bytes the writer published.
struct Message {
  Class cls = kPlain;
  bool salvaged = false;  // published with the salvage tag
  std::string header, body;
  // Exactly file `is_header` of this message, its header with or without the tag.
  bool Is(const std::string& bytes, bool is_header) const {
    return is_header ? bytes == header || bytes == test_support::Tagged(header) : bytes == body;
  }
};

std::string Letters(std::mt19937_64& rng, std::size_t n) {
  static constexpr std::string_view kText = "abcdefghijklmnopqrstuvwxyz     ";
  std::string out(n, ' ');
  for (char& c : out) c = kText[rng() % kText.size()];
  return out;
}

Message MakeMessage(std::uint64_t seed, long id) {
  std::mt19937_64 rng(Mix(seed ^ Mix(static_cast<std::uint64_t>(id))));
  Message m;
  unsigned pick = rng() % 100;
  m.cls = pick < 25 ? kJunk : pick < 50 ? kHold : kPlain;
  m.salvaged = rng() % 100 < 20;
  std::string n = std::to_string(id);
  std::ostringstream h;
  h << "Q 3 smtp mail.kestrane.example 0\r\n08/31/26 06:" << (10 + id % 50) << ":" << (10 + id % 49) << "\r\n"
    << "Return-Path: <sender" << n << "@kestrane.example>\r\n"
    << "From: " << (m.cls == kHold ? "List <hold@lists.example>" : "Sender <sender" + n + "@kestrane.example>")
    << "\r\nTo: <rcpt" << rng() % 1000 << "@city.example>\r\n"
    << "Subject: " << (m.cls == kJunk ? "DELETE-ME offer " : "note ") << n << "\r\n"
    << "X-Pad: " << Letters(rng, rng() % 200) << "\r\nX-Soak-Id: " << n << "\r\n\r\n";
  m.header = h.str();
  m.body = std::string(kBodyMark) + n + "\r\n";
  for (std::size_t lines = 1 + rng() % 100; lines > 0; --lines) m.body += Letters(rng, rng() % 78) + "\r\n";
  return m;
}

// The id a file's bytes name and whether it is a header: where the bytes
// are not exactly that file of that message (Message::Is), it was overwritten.
struct Identity { long id = -1; bool header = false; };
Identity Identify(const std::string& bytes) {
  std::size_t at = bytes.find(kIdMark);
  bool header = at != std::string::npos;
  if (!header) at = bytes.find(kBodyMark);
  if (at == std::string::npos) return {};
  return {std::strtol(bytes.c_str() + at + (header ? kIdMark : kBodyMark).size(), nullptr, 10), header};
}

struct Setup {
  std::string root, program;  // program: the copy of sievbat
  std::array<std::string, 3> folders;
  std::uint64_t seed = 0;
  std::string writer_log;  // "C id 0" per message published, "D id 0|1" per header|body sent
};

// The remailer. It writes each file whole under a hidden name and renames it
// into place without replacing anything, body first: a tool sees a file
// complete or not at all, so odd bytes found at the end come from the tools.
struct Writer {
  explicit Writer(const Setup& setup) : s(setup) {}
  const Setup& s;
  std::string q = s.folders[kMailout];
  std::mt19937_64 rng{Mix(s.seed ^ 0x57)};
  std::ofstream log{s.writer_log};  // written a line at once
  long next_id = 1, next_name = 1;
  std::vector<std::string> pending;  // names of pairs the writer last put in Mailout
  std::vector<std::string> used;

  // Past 6000 files it only renames and sends: a long run's load stays even.
  void Run() {
    std::error_code ec;
    for (long ops = 0, full = 0; !g_stop; ++ops) {
      if (ops % 50 == 0) full = std::distance(std::filesystem::recursive_directory_iterator(q, ec), {}) > 6000;
      unsigned op = rng() % 100;
      if (!pending.empty() && op < 8) RenameOne();
      else if (op < 25 || full) SendOne();
      else Create();
      ::usleep(static_cast<useconds_t>(rng() % 3000));
    }
  }
  std::string InQ(const std::string& name) const { return q + "/" + name; }
  std::string Claimed(bool header) const { return InQ(header ? ".writer-claim.q0" : ".writer-claim.q1"); }

  // A name free in Mailout in any letter case: mostly new, sometimes one used
  // before (the tools must pick collision names), rarely "wwwwww", a few in capitals.
  std::string NewName() {
    for (;;) {
      unsigned pick = rng() % 100;
      char fresh[16];
      std::snprintf(fresh, sizeof fresh, "m%06lx", next_name++);
      std::string base = pick < 15 && !used.empty() ? used[rng() % used.size()] : pick < 16 ? "wwwwww" : fresh;
      if (rng() % 100 < 5) base = platform::AsciiUpper(base);
      auto taken = [&](const std::string& b) { return Exists(InQ(b + ".q0")) || Exists(InQ(b + ".q1")); };
      if (taken(platform::AsciiLower(base)) || taken(platform::AsciiUpper(base))) continue;
      if (used.size() < 2000) used.push_back(platform::AsciiLower(base));
      return base;
    }
  }

  bool Publish(const std::string& bytes, const std::string& name) {
    std::string temp = InQ(".writer-temp");
    if ((std::ofstream(temp, std::ios::binary) << bytes) && RenameNoReplace(temp, InQ(name))) return true;
    ::unlink(temp.c_str());
    return false;
  }

  // Takes the file at `name` away under a hidden name. True when it is file
  // `header` of message `id` (with `id` 0: of any message not to be deleted,
  // and `id` is set); it stays hidden for the caller. Any other file is put
  // back, under a new name if need be.
  bool Claim(const std::string& name, long& id, bool header) {
    if (!RenameNoReplace(InQ(name), Claimed(header))) return false;
    std::string bytes = ReadFile(Claimed(header));
    Identity who = Identify(bytes);
    if (who.id > 0 && who.id < next_id && who.header == header && (id == 0 || who.id == id)) {
      Message m = MakeMessage(s.seed, who.id);
      if ((id != 0 || m.cls != kJunk) && m.Is(bytes, header)) return id = who.id, true;
    }
    for (std::string back = name; !RenameNoReplace(Claimed(header), InQ(back));) back = NewName() + (header ? ".q0" : ".q1");
    return false;
  }

  void Create() {
    long id = next_id++;
    Message m = MakeMessage(s.seed, id);
    for (;;) {
      std::string name = NewName(), name0 = name;
      if (!Publish(m.body, name + ".q1")) continue;
      // A tool may move a pair into the header's name meanwhile: take the
      // body back and start again, or, when it went away with that pair, put
      // the header under a new name.
      for (bool split = false; !Publish(m.salvaged ? test_support::Tagged(m.header) : m.header, name0 + ".q0");) {
        if (!split && Claim(name + ".q1", id, false)) {
          ::unlink(Claimed(false).c_str());
          name0.clear();
          break;
        }
        split = true;
        name0 = NewName();
      }
      if (name0.empty()) continue;
      log << "C " << id << " 0" << std::endl;
      pending.push_back(name0);
      if (pending.size() > 300) pending.erase(pending.begin());
      return;
    }
  }

  // Renames a pending pair in Mailout; the header goes back if the body cannot follow.
  void RenameOne() {
    std::string& from = pending[rng() % pending.size()];
    std::string to = NewName();
    bool ok0 = RenameNoReplace(InQ(from + ".q0"), InQ(to + ".q0"));
    bool ok1 = ok0 && RenameNoReplace(InQ(from + ".q1"), InQ(to + ".q1"));
    if (ok0 && !ok1 && RenameNoReplace(InQ(to + ".q0"), InQ(from + ".q0"))) to = from;
    from = to;
  }

  // Sends (deletes) a random message of Mailout that is its own and not to be
  // deleted (plain, or held and released), each file only when it is that message's.
  void SendOne() {
    std::vector<platform::DirEntry> names;
    platform::Host().ListFolder(q, "*.q0", &names);
    if (names.empty()) return;
    std::string name = names[rng() % names.size()].name;
    long id = 0;
    if (!Claim(name, id, true)) return;
    for (bool header : {true, false}) {
      if (!header && !Claim(name.substr(0, name.size() - 3) + ".q1", id, false)) continue;
      ::unlink(Claimed(header).c_str());
      log << "D " << id << (header ? " 0" : " 1") << std::endl;
    }
  }
};

// The operator: moves blocks of up to 40 random messages between the folders,
// without a pause between moves; now and then salvages a block of Wait or
// Errors (tags the headers, moves them to Mailout).
void RunMover(const Setup& s) {
  std::mt19937_64 rng(Mix(s.seed ^ 0x4D));
  std::array<std::vector<platform::DirEntry>, 3> lists;
  while (!g_stop) {
    for (int f = 0; f < 3; ++f) platform::Host().ListFolder(s.folders[f], "*.q0", &lists[f]);
    unsigned pick = rng() % 100;
    int src = pick < 50 ? kMailout : pick < 80 ? kWait : kErrors;
    bool salvage = src != kMailout && rng() % 100 < 30;
    int dst = salvage ? kMailout : static_cast<int>((src + 1 + rng() % 2) % 3);
    for (std::size_t n = 1 + rng() % 40; n > 0 && !lists[src].empty(); --n) {
      const std::string& name = lists[src][rng() % lists[src].size()].name;
      std::string header = s.folders[src] + "/" + name, bytes = salvage ? ReadFile(header) : "";
      if (salvage && bytes == MakeMessage(s.seed, Identify(bytes).id).header) AddSalvageTag(header);
      SafeRenameMessage(s.folders[src], s.folders[dst], name);
    }
    ::usleep(static_cast<useconds_t>(rng() % 3000));
  }
}

// The exit status of a child, or 128 + signal.
int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `body` in a child that SIGTERM asks to stop.
template <typename Body>
pid_t StartChild(Body body) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGTERM, [](int) { g_stop = 1; });
    body();
    ::_exit(0);
  }
  return pid;
}

// One sievbat pass over Mailout; a fault when it fails.
void RunSievbat(const Setup& s) {
  int status = Wait(StartChild([&] {
    ::execl(s.program.c_str(), "sievbat", s.folders[kMailout].c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }));
  if (status != 0) Fault("a sievbat pass ended with status " + std::to_string(status));
}

// Identifies every file left against the writer's log and reports each
// fault; the count of messages written.
long Check(const Setup& s) {
  struct Made {
    bool created = false, deleted[2] = {false, false};
    std::vector<std::string> found[2];  // where its header and its body are, below Mailout's parent
  };
  std::map<long, Made> made;
  std::ifstream log(s.writer_log);
  char kind = 0;
  long n = 0;
  int file = 0;
  while (log >> kind >> n >> file) (kind == 'C' ? made[n].created : made[n].deleted[file]) = true;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(s.folders[kMailout])) {
    const std::string path = entry.path().string(), place = path.substr(s.root.size() + 1);
    if (entry.is_directory() && (path == s.folders[kWait] || path == s.folders[kErrors])) continue;
    if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') {
      Fault("left behind: " + place);
      continue;
    }
    std::string bytes = ReadFile(path);
    Identity who = Identify(bytes);
    auto it = made.find(who.id);
    if (it == made.end() || !it->second.created || !MakeMessage(s.seed, who.id).Is(bytes, who.header)) {
      Fault("overwritten: " + place);
      continue;
    }
    if (!platform::AsciiLower(place).ends_with(who.header ? ".q0" : ".q1")) Fault("misnamed: " + place);
    it->second.found[who.header ? 0 : 1].push_back(place);
  }
  // A file's path without its ending, in lower case: the same for a header and its body.
  auto stem = [](const std::string& p) { return platform::AsciiLower(p.substr(0, p.find('.', p.rfind('/')))); };
  long messages = 0;
  for (const auto& [id, c] : made) {
    if (!c.created) continue;
    ++messages;
    for (int part = 0; part < 2; ++part) {
      std::string what = (part == 0 ? "header of message " : "body of message ") + std::to_string(id);
      const std::vector<std::string>& found = c.found[part];
      if (found.size() > 1) Fault("duplicated: " + what + " in " + found[0] + " and " + found[1]);
      if (found.empty() && !c.deleted[part] && MakeMessage(s.seed, id).cls != kJunk) Fault("lost: " + what);
    }
    if (c.found[0].size() != 1 || c.found[1].size() != 1) continue;
    const std::string &a = c.found[0][0], &b = c.found[1][0];
    if (stem(a) != stem(b)) Fault("split: header " + a + ", body " + b);
  }
  return messages;
}

}  // namespace

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  double seconds = 40;
  bool keep = false;
  auto seed = static_cast<std::uint64_t>(Clock::now().time_since_epoch().count() ^ ::getpid());
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool value = i + 1 < argc;
    if (a == "--keep") keep = true;
    else if (a == "--seconds" && value) seconds = std::atof(argv[++i]);
    else if (a == "--seed" && value) seed = std::strtoull(argv[++i], nullptr, 10);
    else return std::fprintf(stderr, "usage: soak_driver [--seconds S] [--seed N] [--keep]\n"), 2;
  }
  std::string root = (std::filesystem::temp_directory_path() / "kestrane-soak-XXXXXX").string();
  if (::mkdtemp(root.data()) == nullptr) return std::perror("mkdtemp"), 2;
  const std::string q = root + "/Mailout";
  const Setup s{root, test_support::InstallProgram(SIEVBAT_PATH, root + "/Programs",
                                                   "\"junk-\",\"Subject: \",\"DELETE-ME\"\r\n\"bulkW\",\"From: \",\"hold@\"\r\n"),
                {q, q + "/Wait", q + "/Errors"}, seed, root + "/writer.log"};
  for (const std::string& f : s.folders) std::filesystem::create_directories(f);
  std::printf("soak: %.0f s in %s, seed %llu\n", seconds, root.c_str(), static_cast<unsigned long long>(seed));

  std::array<pid_t, 2> children = {StartChild([&] { Writer(s).Run(); }), StartChild([&] { RunMover(s); })};
  long passes = 1;
  std::mt19937_64 rng(Mix(seed ^ 0x53));
  for (auto end = Clock::now() + std::chrono::duration<double>(seconds); Clock::now() < end; ++passes) {
    RunSievbat(s);
    ::usleep(static_cast<useconds_t>(rng() % 5000));
  }
  for (int c = 0; c < 2; ++c) {
    ::kill(children[c], SIGTERM);  // a hang is left to the test's timeout
    int status = Wait(children[c]);
    if (status != 0) Fault(std::string(c == 0 ? "writer" : "mover") + " ended with status " + std::to_string(status));
  }
  RunSievbat(s);

  long messages = Check(s);
  std::printf("%ld messages, %ld sievbat passes, %ld faults: %s\n", messages, passes, g_faults,
              g_faults == 0 ? "soak passed" : "SOAK FAILED, folders kept");
  std::error_code ignored;
  if (g_faults == 0 && !keep) std::filesystem::remove_all(root, ignored);
  return g_faults == 0 ? 0 : 1;
}
