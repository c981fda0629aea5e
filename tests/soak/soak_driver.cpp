// The queue tools at work on one queue folder at once, then a check that
// nothing that must survive was lost, overwritten, duplicated or split.
//
//   soak_driver [--seconds S] [--seed N] [--keep]   (the test runs 40 s)
//
// In a fresh temporary folder (Mailout with Wait and Errors inside, a copy of
// sievbat and a Filter.ini that deletes Subject "DELETE-ME" and holds From
// "hold@"), for S seconds: a writer child publishes, renames and sends
// (deletes) pairs in Mailout as the remailer does; a mover child moves
// messages between the three folders with SafeRenameMessage, as the viewer's
// operator does, salvaging some; this process runs sievbat on Mailout again
// and again. After one last pass every file is identified by the message id
// written inside it, and each fault is printed. Exit status 1 on any fault;
// the folder is kept after a failing run (or with --keep).
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

namespace {

volatile sig_atomic_t g_stop = 0;

std::uint64_t Mix(std::uint64_t z) { return platform::SplitMix64(z); }

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool Exists(const std::string& path) { struct stat st {}; return ::lstat(path.c_str(), &st) == 0; }

bool EndsWithIgnoreCase(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && platform::EqualsIgnoreCase(text.substr(text.size() - tail.size()), tail);
}

enum Folder { kMailout, kWait, kErrors };
constexpr std::array<const char*, 3> kFolderNames = {"Mailout", "Wait", "Errors"};
enum Class { kPlain, kJunk, kHold };
constexpr std::string_view kIdMark = "\r\nX-Soak-Id: ";
constexpr std::string_view kBodyMark = "X-Soak-Body: ";

// A message is made from the run's seed and its id alone, so the checker
// rebuilds the exact bytes the writer published.
struct Message {
  Class cls = kPlain;
  bool salvaged = false;
  std::string header;
  std::string body;

  std::string Tagged() const { return header.substr(0, header.size() - 2) + std::string(SalvageTagText); }
  std::string Published() const { return salvaged ? Tagged() : header; }
  // Exactly file `is_header` of this message; the writer tags some headers,
  // the mover salvages others, sievbat strips them.
  bool Is(const std::string& bytes, bool is_header) const {
    return is_header ? bytes == header || bytes == Tagged() : bytes == body;
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
  h << "Q 3 smtp mail.kestrane.example 0\r\n"
    << "08/31/26 06:" << (10 + id % 50) << ":" << (10 + id % 49) << "\r\n"
    << "Return-Path: <sender" << n << "@kestrane.example>\r\n"
    << "From: " << (m.cls == kHold ? "List <hold@lists.example>" : "Sender <sender" + n + "@kestrane.example>")
    << "\r\nTo: <rcpt" << rng() % 1000 << "@city.example>\r\n"
    << "Subject: " << (m.cls == kJunk ? "DELETE-ME offer " : "note ") << n << "\r\n"
    << "X-Pad: " << Letters(rng, rng() % 200) << "\r\n"
    << "X-Soak-Id: " << n << "\r\n\r\n";
  m.header = h.str();
  m.body = std::string(kBodyMark) + n + "\r\n";
  for (std::size_t lines = 1 + rng() % 100; lines > 0; --lines) m.body += Letters(rng, rng() % 78) + "\r\n";
  return m;
}

// The id a file's bytes name and whether it is a header; more than one mark
// means bytes of two files in one.
struct Identity {
  long id = -1;
  bool header = false;
  int marks = 0;
};

Identity Identify(const std::string& bytes) {
  Identity who;
  for (bool header : {false, true}) {
    std::string_view mark = header ? kIdMark : kBodyMark;
    for (std::size_t at = bytes.find(mark); at != std::string::npos; at = bytes.find(mark, at + 1)) {
      ++who.marks;
      who.header = header;
      who.id = std::strtol(bytes.c_str() + at + mark.size(), nullptr, 10);
    }
  }
  return who;
}

struct Setup {
  std::string root;
  std::string program;  // the copy of sievbat
  std::array<std::string, 3> folders;
  std::uint64_t seed = 0;
  std::string writer_log;  // "C id" per message published, "D id part" per file sent
};

// The remailer. It writes each file whole under a hidden name and renames it
// into place without replacing anything, body first: a tool sees a file
// complete or not at all, so odd bytes found at the end come from the tools.
struct Writer {
  explicit Writer(const Setup& setup) : s_(setup), q_(setup.folders[kMailout]), rng_(Mix(setup.seed ^ 0x57)) {
    log_ = std::fopen(s_.writer_log.c_str(), "w");
    std::setvbuf(log_, nullptr, _IOLBF, 0);  // whole lines, at once
  }
  ~Writer() { std::fclose(log_); }

  // Past kMaxFiles files it only renames and sends: a long run's load stays even.
  void Run() {
    static constexpr long kMaxFiles = 6000;
    bool full = false;
    for (long ops = 0; !g_stop; ++ops) {
      if (ops % 50 == 0) full = CountFiles() > kMaxFiles;
      unsigned op = rng_() % 100;
      if (!pending_.empty() && op < 8) {
        RenameOne();
      } else if (op < 25 || full) {
        SendOne();
      } else {
        Create();
      }
      ::usleep(static_cast<useconds_t>(rng_() % 3000));
    }
  }

  std::string InQ(const std::string& name) const { return q_ + "/" + name; }

  // A name free in Mailout: mostly new, sometimes one used before (so the
  // tools must pick collision names), rarely "wwwwww"; a few in capitals.
  std::string NewName() {
    for (;;) {
      unsigned pick = rng_() % 100;
      std::string base;
      if (pick < 15 && !used_.empty()) {
        base = used_[rng_() % used_.size()];
      } else if (pick < 16) {
        base = "wwwwww";
      } else {
        char text[16];
        std::snprintf(text, sizeof text, "m%06lx", next_name_++);
        base = text;
      }
      if (rng_() % 100 < 5) base = platform::AsciiUpper(base);
      bool taken = false;
      for (const std::string& b : {platform::AsciiLower(base), platform::AsciiUpper(base)}) {
        taken = taken || Exists(InQ(b + ".q0")) || Exists(InQ(b + ".q1"));
      }
      if (taken) continue;
      if (used_.size() < 2000) used_.push_back(platform::AsciiLower(base));
      return base;
    }
  }

  bool Publish(const std::string& bytes, const std::string& name) {
    std::string temp = InQ(".writer-temp");
    if (!(std::ofstream(temp, std::ios::binary) << bytes)) return false;
    if (RenameNoReplace(temp, InQ(name))) return true;
    ::unlink(temp.c_str());
    return false;
  }

  long CountFiles() const {
    long n = 0;
    std::error_code ec;
    for (const std::string& f : s_.folders) n += std::distance(std::filesystem::directory_iterator(f, ec), {});
    return n;
  }

  // Takes the file at `name` away under a hidden name. True when it is file
  // `header` of message `id` (with `id` 0: of any message not to be deleted,
  // and `id` is set); it stays hidden for the caller. Any other file is put
  // back, under a new name if need be.
  bool Claim(const std::string& name, long& id, bool header) {
    std::string hidden = InQ(header ? ".writer-claim.q0" : ".writer-claim.q1");
    if (!RenameNoReplace(InQ(name), hidden)) return false;
    std::string bytes = ReadFile(hidden);
    Identity who = Identify(bytes);
    if (who.id > 0 && who.id < next_id_ && who.header == header && (id == 0 || who.id == id)) {
      Message m = MakeMessage(s_.seed, who.id);
      if ((id != 0 || m.cls != kJunk) && m.Is(bytes, header)) {
        id = who.id;
        return true;
      }
    }
    std::string back = name;
    while (!RenameNoReplace(hidden, InQ(back))) back = NewName() + (header ? ".q0" : ".q1");
    return false;
  }

  void Create() {
    long id = next_id_++;
    Message m = MakeMessage(s_.seed, id);
    for (;;) {
      std::string name = NewName();
      if (!Publish(m.body, name + ".q1")) continue;
      std::string name0 = name;
      bool split = false;
      while (!Publish(m.Published(), name0 + ".q0")) {
        // A tool moved a pair into the name meanwhile: take the body back and
        // start again, or, when it went away with that pair, put the header
        // under a new name.
        if (!split && Claim(name + ".q1", id, false)) {
          ::unlink(InQ(".writer-claim.q1").c_str());
          name0.clear();
          break;
        }
        split = true;
        name0 = NewName();
      }
      if (name0.empty()) continue;
      std::fprintf(log_, "C %ld\n", id);
      pending_.push_back(name0);
      if (pending_.size() > 300) pending_.erase(pending_.begin());
      return;
    }
  }

  // Renames a pending pair in Mailout; the header goes back if the body cannot follow.
  void RenameOne() {
    std::string& from = pending_[rng_() % pending_.size()];
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
    platform::Host().ListFolder(q_, "*.q0", &names);
    if (names.empty()) return;
    std::string name = names[rng_() % names.size()].name;
    long id = 0;
    if (!Claim(name, id, true)) return;
    std::string stem = name.substr(0, name.size() - 3);
    for (bool header : {true, false}) {
      if (!header && !Claim(stem + ".q1", id, false)) continue;
      ::unlink(InQ(header ? ".writer-claim.q0" : ".writer-claim.q1").c_str());
      std::fprintf(log_, "D %ld %d\n", id, header ? 0 : 1);
    }
  }

  const Setup& s_;
  std::string q_;
  std::mt19937_64 rng_;
  std::FILE* log_;
  long next_id_ = 1;
  long next_name_ = 1;
  std::vector<std::string> pending_;  // names of pairs the writer last put in Mailout
  std::vector<std::string> used_;
};

// The operator: moves blocks of up to 40 random messages between the folders;
// now and then salvages a block of Wait or Errors (tags the headers, moves them
// to Mailout).
void RunMover(const Setup& s) {
  std::mt19937_64 rng(Mix(s.seed ^ 0x4D));
  platform::FileSystem& fs = platform::Host();
  std::array<std::vector<platform::DirEntry>, 3> lists;
  while (!g_stop) {
    for (int f = 0; f < 3; ++f) fs.ListFolder(s.folders[f], "*.q0", &lists[f]);
    unsigned pick = rng() % 100;
    int src = pick < 50 ? kMailout : pick < 80 ? kWait : kErrors;
    int dst = static_cast<int>((src + 1 + rng() % 2) % 3);
    bool salvage = src != kMailout && rng() % 100 < 30;
    if (salvage) dst = kMailout;
    const auto& list = lists[src];
    for (std::size_t n = 1 + rng() % 40; n > 0 && !list.empty(); --n) {
      const std::string& name = list[rng() % list.size()].name;
      std::string header = s.folders[src] + "/" + name;
      if (salvage) {
        std::string bytes = ReadFile(header);
        Identity who = Identify(bytes);
        if (who.marks == 1 && who.header && bytes == MakeMessage(s.seed, who.id).header) AddSalvageTag(header);
      }
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

// One sievbat pass over Mailout; its exit status.
int RunSievbat(const Setup& s) {
  return Wait(StartChild([&] {
    ::execl(s.program.c_str(), "sievbat", s.folders[kMailout].c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }));
}

// Stops a child (a hang is left to the test's timeout); true when it ended cleanly.
bool StopChild(pid_t pid, const char* what) {
  ::kill(pid, SIGTERM);
  int status = Wait(pid);
  if (status != 0) std::printf("FAULT: the %s ended with status %d\n", what, status);
  return status == 0;
}

struct Place {
  int folder;
  std::string name;
  std::string Text() const { return std::string(kFolderNames[folder]) + "/" + name; }
  std::string Base() const { return platform::AsciiLower(name.substr(0, name.find('.'))); }
};

struct Made {
  bool created = false;
  bool deleted[2] = {false, false};
  bool damaged[2] = {false, false};  // found with other bytes: reported as overwritten
  std::vector<Place> found[2];
};

// Prints each fault (the first 40) and a tally; true when the run passed.
bool Check(const Setup& s, long passes, long failed_passes, bool child_fault) {
  std::map<long, Made> made;
  std::ifstream log(s.writer_log);
  for (std::string line; std::getline(log, line);) {
    char kind = 0;
    long id = 0;
    int part = 0;
    std::istringstream(line) >> kind >> id >> part;
    if (kind == 'C') made[id].created = true;
    if (kind == 'D') made[id].deleted[part == 0 ? 0 : 1] = true;
  }
  long faults = 0;
  auto fault = [&](const std::string& text) {
    if (faults++ < 40) std::printf("  %s\n", text.c_str());
  };
  for (int f = 0; f < 3; ++f) {
    for (const auto& entry : std::filesystem::directory_iterator(s.folders[f])) {
      Place place{f, entry.path().filename().string()};
      const std::string& name = place.name;
      if (entry.is_directory() && f == kMailout && (name == "Wait" || name == "Errors")) continue;
      if (!entry.is_regular_file() || name[0] == '.') {
        fault("left behind: " + place.Text());
        continue;
      }
      std::string bytes = ReadFile(entry.path().string());
      Identity who = Identify(bytes);
      auto it = made.find(who.id);
      bool known = it != made.end() && it->second.created;
      int part = who.header ? 0 : 1;
      if (!known || who.marks != 1 || !MakeMessage(s.seed, who.id).Is(bytes, who.header)) {
        fault("overwritten: " + place.Text() + " (" + std::to_string(who.marks) + " id marks, message " +
              std::to_string(who.id) + (known ? ")" : ", never written)"));
        if (known) it->second.damaged[part] = true;
        continue;
      }
      if (!EndsWithIgnoreCase(name, part == 0 ? ".q0" : ".q1")) {
        fault("misnamed: " + place.Text() + " holds a file of message " + std::to_string(who.id));
      }
      it->second.found[part].push_back(place);
    }
  }
  long messages = 0, splits = 0;
  for (const auto& [id, c] : made) {
    if (!c.created) continue;
    ++messages;
    bool junk = MakeMessage(s.seed, id).cls == kJunk;
    for (int part = 0; part < 2; ++part) {
      std::string what = (part == 0 ? "the header of message " : "the body of message ") + std::to_string(id);
      if (c.found[part].size() > 1) {
        fault("duplicated: " + what + " in " + c.found[part][0].Text() + " and " + c.found[part][1].Text());
      }
      if (c.found[part].empty() && !c.deleted[part] && !c.damaged[part] && !junk) fault("lost: " + what);
    }
    if (c.found[0].size() != 1 || c.found[1].size() != 1) continue;
    const Place& a = c.found[0][0];
    const Place& b = c.found[1][0];
    if (a.folder == b.folder && a.Base() == b.Base()) continue;
    ++splits;
    fault("split: message " + std::to_string(id) + ", header " + a.Text() + ", body " + b.Text());
  }
  if (failed_passes > 0) fault(std::to_string(failed_passes) + " sievbat passes failed");
  bool passed = faults == 0 && !child_fault;
  std::printf("%ld messages, %ld sievbat passes, %ld faults (%ld split pairs): %s\n", messages, passes, faults, splits,
              passed ? "soak passed" : "SOAK FAILED");
  return passed;
}

void Prepare(Setup& s, const std::string& sievbat) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "kestrane-soak-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  s.root = pattern;
  fs::create_directory(s.root + "/Programs");
  s.program = s.root + "/Programs/sievbat";
  fs::copy_file(sievbat, s.program);
  fs::permissions(s.program, fs::perms::owner_all);
  std::ofstream(s.root + "/Programs/Filter.ini", std::ios::binary)
      << "\"junk-\",\"Subject: \",\"DELETE-ME\"\r\n\"bulkW\",\"From: \",\"hold@\"\r\n";
  s.folders = {s.root + "/Mailout", s.root + "/Mailout/Wait", s.root + "/Mailout/Errors"};
  for (const std::string& f : s.folders) fs::create_directories(f);
  s.writer_log = s.root + "/writer.log";
}

}  // namespace

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  double seconds = 40;
  bool keep = false;
  Setup s;
  s.seed = static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()) ^ static_cast<std::uint64_t>(::getpid());
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (a == "--seed" && i + 1 < argc) {
      s.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--keep") {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: soak_driver [--seconds S] [--seed N] [--keep]\n");
      return 2;
    }
  }
  Prepare(s, SIEVBAT_PATH);
  std::printf("soak: %.0f s in %s, seed %llu\n", seconds, s.root.c_str(), static_cast<unsigned long long>(s.seed));

  pid_t writer = StartChild([&] { Writer(s).Run(); });
  pid_t mover = StartChild([&] { RunMover(s); });
  long passes = 0, failed_passes = 0;
  std::mt19937_64 rng(Mix(s.seed ^ 0x53));
  for (auto end = Clock::now() + std::chrono::duration<double>(seconds); Clock::now() < end;) {
    int status = RunSievbat(s);
    ++passes;
    if (status != 0) {
      ++failed_passes;
      std::printf("FAULT: sievbat pass %ld ended with status %d\n", passes, status);
    }
    ::usleep(static_cast<useconds_t>(rng() % 5000));
  }
  bool child_fault = !StopChild(writer, "writer");
  child_fault = !StopChild(mover, "mover") || child_fault;
  ++passes;
  if (RunSievbat(s) != 0) ++failed_passes;

  bool passed = Check(s, passes, failed_passes, child_fault);
  if (passed && !keep) {
    std::error_code ignored;
    std::filesystem::remove_all(s.root, ignored);
  } else {
    std::printf("folders kept in %s\n", s.root.c_str());
  }
  return passed ? 0 : 1;
}
