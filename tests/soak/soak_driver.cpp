// The queue tools at work on one queue folder at the same time, then a check
// that nothing that must survive was lost or overwritten.
//
//   soak_driver [--seconds S] [--seed N] [--keep] [--sievbat PATH]
//
// In a fresh temporary folder: Mailout with Wait and Errors inside, and a
// program folder with a copy of sievbat and a Filter.ini holding a delete
// rule (Subject "DELETE-ME") and a hold rule (From "hold@"). For S seconds:
//  - the writer (a child process) acts as the remailer: it publishes new
//    message pairs in Mailout, renames some of its pending ones and sends
//    (deletes) some of its messages of no delete class found in Mailout;
//  - the mover (a child process) moves random messages between the three
//    folders with SafeRenameMessage, as the viewer's operator does;
//  - this process runs sievbat on Mailout again and again.
// Then the children stop, sievbat makes one last pass, and every file of the
// three folders is identified by the message id written inside it:
//  - lost: a file that must survive (any file of a message of no delete
//    class that the writer did not delete) is in none of the folders, be it
//    deleted or replaced by a rename;
//  - overwritten: a file holds other bytes than exactly its message's file
//    (a header with or without the salvage tag);
//  - split pair: header and body under different names or folders, listed
//    with its likely cause.
// Exit status 1 on a lost, overwritten, duplicated or unknown file, a split
// pair, or a crash. The folder is removed after a passing run and kept after a failing
// one (or with --keep), with the logs the check reads: writer.log, mover.log
// and sievbat.log (start and end of each pass).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SplitMix.h"
#include "platform/Text.h"
#include "shared/Module_MySafeRename.h"
#include "shared/Module_SalvageTag.h"

namespace {

// ---------------------------------------------------------------- basics

volatile sig_atomic_t g_stop = 0;
void OnTerm(int) { g_stop = 1; }

std::int64_t NowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::uint64_t Mix(std::uint64_t z) { return platform::SplitMix64(z); }

bool ReadAll(const std::string& path, std::string* out) {
  out->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) out->append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return n == 0;
}

bool WriteNew(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return ::close(fd) == 0 && ok;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && platform::EqualsIgnoreCase(text.substr(text.size() - tail.size()), tail);
}

// ---------------------------------------------------------------- messages

// The three folders, by index in the logs.
enum Folder { kMailout, kWait, kErrors };
constexpr std::array<const char*, 3> kFolderNames = {"Mailout", "Wait", "Errors"};

enum Class { kPlain, kJunk, kHold };
constexpr std::array<const char*, 3> kClassNames = {"plain", "delete", "hold"};

constexpr std::string_view kIdMark = "\r\nX-Soak-Id: ";
constexpr std::string_view kBodyMark = "X-Soak-Body: ";

// A message is made from the run's seed and its id alone, so the checker
// rebuilds the exact bytes the writer published. `header` is the header
// file before any salvage tag; it ends with an empty line.
struct Message {
  Class cls = kPlain;
  bool salvaged = false;
  std::string header;
  std::string body;

  std::string Tagged() const { return header.substr(0, header.size() - 2) + std::string(SalvageTagText); }
  std::string Published() const { return salvaged ? Tagged() : header; }
  // The header file with or without the salvage tag: the writer tags some,
  // the mover salvages others, sievbat strips them.
  bool IsHeader(const std::string& bytes) const { return bytes == header || bytes == Tagged(); }
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
    << "\r\n"
    << "To: <rcpt" << rng() % 1000 << "@city.example>\r\n"
    << "Subject: " << (m.cls == kJunk ? "DELETE-ME offer " : "note ") << n << "\r\n"
    << "X-Pad: " << Letters(rng, rng() % 200) << "\r\n"
    << "X-Soak-Id: " << n << "\r\n\r\n";
  m.header = h.str();
  m.body = std::string(kBodyMark) + n + "\r\n";
  for (std::size_t lines = 1 + rng() % 100; lines > 0; --lines) m.body += Letters(rng, rng() % 78) + "\r\n";
  return m;
}

// What a file's bytes say about it: the id of the message it belongs to, and
// whether it is a header or a body. `marks` counts every id mark found; more
// than one means bytes of two files in one.
struct Identity {
  long id = -1;
  bool header = false;
  int marks = 0;
};

Identity Identify(const std::string& bytes) {
  Identity who;
  auto take = [&](std::size_t at, bool header) {
    ++who.marks;
    who.header = header;
    who.id = std::strtol(bytes.c_str() + at, nullptr, 10);
  };
  if (bytes.compare(0, kBodyMark.size(), kBodyMark) == 0) take(kBodyMark.size(), false);
  for (std::size_t at = bytes.find(kBodyMark, 1); at != std::string::npos; at = bytes.find(kBodyMark, at + 1)) {
    take(at + kBodyMark.size(), false);
  }
  for (std::size_t at = bytes.find(kIdMark); at != std::string::npos; at = bytes.find(kIdMark, at + 1)) {
    take(at + kIdMark.size(), true);
  }
  return who;
}

// The state of a header file, for the logs: '-' missing, 'h' as written
// without tag, 't' with the salvage tag, 'x' anything else.
char HeaderState(std::uint64_t seed, const std::string& path) {
  std::string bytes;
  if (!ReadAll(path, &bytes)) return '-';
  Identity who = Identify(bytes);
  if (who.marks != 1 || !who.header || who.id <= 0) return 'x';
  Message m = MakeMessage(seed, who.id);
  return bytes == m.header ? 'h' : bytes == m.Tagged() ? 't' : 'x';
}

struct Setup {
  std::string root;
  std::string program;  // the copy of sievbat
  std::array<std::string, 3> folders;
  std::uint64_t seed = 0;
  std::string writer_log;
  std::string mover_log;
  std::string pass_log;
};

// ---------------------------------------------------------------- writer

// The remailer. It publishes a pair body first, header last, each file
// written whole under a hidden name (never listed by the tools) and renamed
// into place without replacing anything: a tool sees a file complete or not
// at all, so any odd bytes found at the end come from the tools.
class Writer {
 public:
  explicit Writer(const Setup& setup) : s_(setup), q_(setup.folders[kMailout]), rng_(Mix(setup.seed ^ 0x57)) {
    log_ = std::fopen(s_.writer_log.c_str(), "w");
  }
  ~Writer() { std::fclose(log_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Creates, renames and sends at random; past kMaxFiles files in the three
  // folders it only renames and sends, so that the folders (and with them
  // the time of a listing) stop growing and the load stays the same in a
  // long run.
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

 private:
  struct Pending {
    long id;
    std::string name;  // where the writer last put it in Mailout
  };

  std::string InQ(const std::string& name) const { return q_ + "/" + name; }
  std::int64_t T() const { return NowMicros(); }

  bool TakenInQ(const std::string& base) const {
    for (const std::string& b : {platform::AsciiLower(base), platform::AsciiUpper(base)}) {
      if (InodeOf(InQ(b + ".q0")) != 0 || InodeOf(InQ(b + ".q1")) != 0) return true;
    }
    return false;
  }

  // A name free in Mailout: mostly a new one, sometimes one used before
  // (its message may sit in Wait or Errors, so the tools must pick a
  // collision name there), rarely "wwwwww"; a few in capitals.
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
      if (TakenInQ(base)) continue;
      if (used_.size() < 2000) used_.push_back(platform::AsciiLower(base));
      return base;
    }
  }

  bool Publish(const std::string& bytes, const std::string& name, ino_t* ino) {
    std::string temp = InQ(".writer-temp");
    ::unlink(temp.c_str());
    if (!WriteNew(temp, bytes)) return false;
    *ino = InodeOf(temp);
    if (RenameNoReplace(temp, InQ(name))) return true;
    ::unlink(temp.c_str());
    return false;
  }

  long CountFiles() const {
    long n = 0;
    for (const std::string& folder : s_.folders) {
      if (DIR* dir = ::opendir(folder.c_str())) {
        while (::readdir(dir) != nullptr) ++n;
        ::closedir(dir);
      }
    }
    return n;
  }

  // Takes the file at `name` away under a hidden name and reads it. True
  // when it holds file `header` of message `id` (any message but one of the
  // delete class when `id` is 0), which then sits at the hidden name for the
  // caller to delete; `id` is then set. Any other file is put back where it
  // was, or under a new name when that was taken meanwhile.
  bool Claim(const std::string& name, long& id, bool header) {
    std::string hidden = InQ(header ? ".writer-claim.q0" : ".writer-claim.q1");
    if (!RenameNoReplace(InQ(name), hidden)) return false;
    std::string bytes;
    ReadAll(hidden, &bytes);
    Identity who = Identify(bytes);
    if (who.id > 0 && who.id < next_id_ && who.header == header && (id == 0 || who.id == id)) {
      Message m = MakeMessage(s_.seed, who.id);
      if ((id != 0 || m.cls != kJunk) && (header ? m.IsHeader(bytes) : bytes == m.body)) {
        id = who.id;
        return true;
      }
    }
    std::string back = name;
    while (!RenameNoReplace(hidden, InQ(back))) back = NewName() + (header ? ".q0" : ".q1");
    std::fprintf(log_, "X %lld %ld %d %s\n", static_cast<long long>(T()), Identify(bytes).id, header ? 0 : 1,
                 back.c_str());
    std::fflush(log_);
    return false;
  }

  void Create() {
    long id = next_id_++;
    Message m = MakeMessage(s_.seed, id);
    std::string header = m.Published();
    for (;;) {
      std::string name = NewName();
      ino_t ino0 = 0, ino1 = 0;
      if (!Publish(m.body, name + ".q1", &ino1)) continue;
      std::string name0 = name;
      bool split = false;
      while (!Publish(header, name0 + ".q0", &ino0)) {
        // A tool moved a pair into the name between our test and the body's
        // rename. Take the body back if it is still there and start again;
        // if it went away with that pair, the header goes under a new name.
        if (!split && Claim(name + ".q1", id, false)) {
          ::unlink(InQ(".writer-claim.q1").c_str());
          std::fprintf(log_, "W %lld %ld %s\n", static_cast<long long>(T()), id, name.c_str());
          name0.clear();
          break;
        }
        split = true;
        name0 = NewName();
      }
      if (name0.empty()) continue;
      std::fprintf(log_, "C %lld %ld %s %s %lu %lu %d\n", static_cast<long long>(T()), id, name0.c_str(), name.c_str(),
                   static_cast<unsigned long>(ino0), static_cast<unsigned long>(ino1), split ? 1 : 0);
      std::fflush(log_);
      pending_.push_back({id, name0});
      if (pending_.size() > 300) pending_.erase(pending_.begin());
      return;
    }
  }

  // Renames a pending pair within Mailout as a careful remailer does:
  // header first, the body only after it, and the header back when the body
  // cannot follow; each file with a rename that never replaces.
  void RenameOne() {
    Pending& p = pending_[rng_() % pending_.size()];
    std::string to = NewName();
    bool ok0 = RenameNoReplace(InQ(p.name + ".q0"), InQ(to + ".q0"));
    bool ok1 = ok0 && RenameNoReplace(InQ(p.name + ".q1"), InQ(to + ".q1"));
    if (ok0 && !ok1 && RenameNoReplace(InQ(to + ".q0"), InQ(p.name + ".q0"))) {
      ok0 = false;
      to = p.name;
    }
    std::fprintf(log_, "R %lld %ld %s %s %d %d\n", static_cast<long long>(T()), p.id, p.name.c_str(), to.c_str(),
                 ok0 ? 1 : 0, ok1 ? 1 : 0);
    std::fflush(log_);
    p.name = to;
  }

  // Sends a message as the remailer does: takes a random message of
  // Mailout that is its own and of no delete class (plain, or held and
  // released by the operator) and deletes its files, each only when what
  // sits at its name really is that message's file.
  void SendOne() {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(q_.c_str())) {
      while (dirent* d = ::readdir(dir)) {
        if (d->d_name[0] != '.' && EndsWithIgnoreCase(d->d_name, ".q0")) names.emplace_back(d->d_name);
      }
      ::closedir(dir);
    }
    if (names.empty()) return;
    std::string name = names[rng_() % names.size()];
    long id = 0;
    if (!Claim(name, id, true)) return;
    std::string stem = name.substr(0, name.size() - 3);
    for (bool header : {true, false}) {
      if (!header && !Claim(stem + ".q1", id, false)) continue;
      ::unlink(InQ(header ? ".writer-claim.q0" : ".writer-claim.q1").c_str());
      std::fprintf(log_, "D %lld %ld %d\n", static_cast<long long>(T()), id, header ? 0 : 1);
      std::fflush(log_);
    }
  }

  const Setup& s_;
  std::string q_;
  std::mt19937_64 rng_;
  std::FILE* log_;
  long next_id_ = 1;
  long next_name_ = 1;
  std::vector<Pending> pending_;
  std::vector<std::string> used_;
};

// ---------------------------------------------------------------- mover

// The operator: lists the three folders, picks a block of up to 40 random
// messages of one of them and moves them to another with SafeRenameMessage;
// now and then salvages a block of Wait or Errors (AddSalvageTag, then the
// move to Mailout). Each move is logged with the inodes of the source pair
// and whether each of them reached the target folder.
void RunMover(const Setup& s) {
  std::FILE* log = std::fopen(s.mover_log.c_str(), "w");
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
      std::string stem = s.folders[src] + "/" + name.substr(0, name.size() - 3);
      std::string header = s.folders[src] + "/" + name;
      ino_t ino0 = InodeOf(header);
      ino_t ino1 = InodeOf(stem + ".q1");
      char state = HeaderState(s.seed, header);
      int tagged = 0;  // 1: salvaged, 2: AddSalvageTag tried and failed
      if (salvage && state == 'h') tagged = AddSalvageTag(header) ? 1 : 2;
      SafeRenameMessage(s.folders[src], s.folders[dst], name);
      bool in0 = false, in1 = false;
      if (DIR* dir = ::opendir(s.folders[dst].c_str())) {
        while (dirent* d = ::readdir(dir)) {
          in0 = in0 || (ino0 != 0 && d->d_ino == ino0);
          in1 = in1 || (ino1 != 0 && d->d_ino == ino1);
        }
        ::closedir(dir);
      }
      std::fprintf(log, "M %lld %d %d %s %lu %lu %d %d %d %c\n", static_cast<long long>(NowMicros()), src, dst,
                   name.c_str(), static_cast<unsigned long>(ino0), static_cast<unsigned long>(ino1), in0 ? 1 : 0,
                   in1 ? 1 : 0, tagged, state);
    }
    std::fflush(log);
    ::usleep(static_cast<useconds_t>(rng() % 3000));
  }
  std::fclose(log);
}

// ---------------------------------------------------------------- sievbat

// One pass; the exit status, or 128 + signal.
int RunSievbat(const Setup& s) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(s.program.c_str(), "sievbat", s.folders[kMailout].c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

template <typename Body>
pid_t StartChild(Body body) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGTERM, OnTerm);
    body();
    ::_exit(0);
  }
  return pid;
}

// Asks a child to end and waits up to 20 s; true when it ended cleanly.
bool StopChild(pid_t pid, const char* what) {
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 2000; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
      std::printf("FAULT: the %s ended with status %d\n", what, status);
      return false;
    }
    ::usleep(10000);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  std::printf("FAULT: the %s did not stop\n", what);
  return false;
}

// ---------------------------------------------------------------- check

struct Place {
  int folder;
  std::string name;
  std::string Text() const { return std::string(kFolderNames[folder]) + "/" + name; }
  std::string Base() const { return platform::AsciiLower(name.substr(0, name.find('.'))); }
};

struct Created {
  std::int64_t t = 0;
  std::string name0, name1;
  unsigned long ino0 = 0, ino1 = 0;
  bool publish_split = false;
  bool deleted[2] = {false, false};
  bool damaged[2] = {false, false};   // found, but with other bytes: counted as overwritten
  std::vector<std::int64_t> renames;  // times of the writer's renames
  bool half_renamed = false, restored = false;
  std::vector<Place> found[2];
};

struct MoverRecord {
  std::int64_t t;
  int src, dst;
  std::string name;
  unsigned long ino0, ino1;  // 0: no such file at the source when the call began
  int in0, in1;              // the inode was in the target folder after the call
  int salvaged;              // before the move AddSalvageTag was: 0 not called, 1 done, 2 failed
  char state;                // the header when the call began (HeaderState)
  // One file of the pair moved, the other not.
  bool HalfMove() const { return (ino0 != 0 && in0) != (ino1 != 0 && in1); }
  std::string Text() const {
    return std::to_string(t / 1000) + " ms " + kFolderNames[src] + "->" + kFolderNames[dst] + " " + name +
           (salvaged == 1   ? " (salvaged)"
            : salvaged == 2 ? " (salvage failed)"
                            : "") +
           (ino0 ? " header " + std::string(1, state) : " header gone") + (ino1 ? "" : " body gone") +
           ", reached: header " + (in0 ? "yes" : "no") + ", body " + (in1 ? "yes" : "no");
  }
};

struct Report {
  long writes = 0, withdrawn = 0, renames = 0, renamed_files = 0, writer_deletes = 0, restores = 0;
  long passes = 0, pass_faults = 0, mover_calls = 0, mover_files = 0;
  bool child_fault = false;
};

int Check(const Setup& s, Report& r) {
  std::map<long, Created> made;
  std::vector<MoverRecord> moves;
  {
    std::ifstream in(s.writer_log);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream f(line);
      char kind = 0;
      long long t = 0;
      long id = 0;
      f >> kind >> t >> id;
      if (kind == 'C') {
        Created& c = made[id];
        int split = 0;
        c.t = t;
        f >> c.name0 >> c.name1 >> c.ino0 >> c.ino1 >> split;
        c.publish_split = split != 0;
        r.writes += 2;
      } else if (kind == 'W') {
        ++r.withdrawn;
        ++r.writes;
      } else if (kind == 'R') {
        std::string from, to;
        int ok0 = 0, ok1 = 0;
        f >> from >> to >> ok0 >> ok1;
        ++r.renames;
        r.renamed_files += ok0 + ok1;
        made[id].renames.push_back(t);
        if (ok0 != ok1) made[id].half_renamed = true;
      } else if (kind == 'D') {
        int part = 0;
        f >> part;
        made[id].deleted[part] = true;
        ++r.writer_deletes;
      } else if (kind == 'X') {
        ++r.restores;
        if (made.count(id)) made[id].restored = true;
      }
    }
  }
  {
    std::ifstream in(s.mover_log);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream f(line);
      char kind = 0;
      MoverRecord m{};
      f >> kind >> m.t >> m.src >> m.dst >> m.name >> m.ino0 >> m.ino1 >> m.in0 >> m.in1 >> m.salvaged >> m.state;
      if (kind != 'M') continue;
      moves.push_back(m);
      ++r.mover_calls;
      r.mover_files += m.in0 + m.in1;
    }
  }

  long unknown = 0, overwritten = 0, misnamed = 0, duplicated = 0, lost = 0, hidden = 0;
  long found_files = 0, cross_pairs = 0, case_twins = 0, collision_names = 0;
  std::array<long, 3> per_folder{};
  std::vector<std::string> faults;
  auto fault = [&](const std::string& text) {
    if (faults.size() < 40) faults.push_back(text);
  };
  std::array<std::map<std::string, long>, 3> ids_by_name[2];  // [q0/q1][folder] base -> id

  for (int f = 0; f < 3; ++f) {
    std::set<std::string> lower_names;
    for (const auto& entry : std::filesystem::directory_iterator(s.folders[f])) {
      std::string name = entry.path().filename().string();
      if (entry.is_directory() && f == kMailout && (name == "Wait" || name == "Errors")) continue;
      Place place{f, name};
      if (!entry.is_regular_file() || name[0] == '.') {
        ++hidden;
        fault("left behind: " + place.Text());
        continue;
      }
      if (!lower_names.insert(platform::AsciiLower(name)).second) ++case_twins;
      ++found_files;
      ++per_folder[f];
      if (name.rfind("~col", 0) == 0) ++collision_names;
      std::string bytes;
      ReadAll(entry.path().string(), &bytes);
      Identity who = Identify(bytes);
      auto it = made.find(who.id);
      if (who.marks == 0 || it == made.end() || it->second.t == 0) {
        ++unknown;
        fault("unknown origin: " + place.Text() + " (" + std::to_string(bytes.size()) + " bytes)");
        continue;
      }
      Message m = MakeMessage(s.seed, who.id);
      bool good = who.marks == 1 && (who.header ? m.IsHeader(bytes) : bytes == m.body);
      if (!good) {
        ++overwritten;
        std::string how;
        const std::string& expected = who.header ? m.header : m.body;
        if (who.header && bytes == m.header + std::string(SalvageTagText.substr(2))) {
          how = ": CR LF written over the salvage tag, the cut after it not made";
        } else {
          auto diff = std::mismatch(bytes.begin(), bytes.end(), expected.begin(), expected.end());
          how = ": differs from byte " + std::to_string(diff.first - bytes.begin()) + " of the " +
                std::to_string(expected.size()) + " written";
        }
        fault("overwritten: " + place.Text() + " holds " + std::to_string(bytes.size()) + " bytes with " +
              std::to_string(who.marks) + " id mark(s), the first of " + kClassNames[m.cls] + " message " +
              std::to_string(who.id) + how);
        if (it != made.end()) it->second.damaged[who.header ? 0 : 1] = true;
        continue;
      }
      int part = who.header ? 0 : 1;
      if (!EndsWithIgnoreCase(name, part == 0 ? ".q0" : ".q1")) {
        ++misnamed;
        fault("misnamed: " + place.Text() + " holds the " + (part == 0 ? "header" : "body") + " of message " +
              std::to_string(who.id));
      }
      it->second.found[part].push_back(place);
      ids_by_name[part][f][place.Base()] = who.id;
    }
  }
  for (int f = 0; f < 3; ++f) {
    for (const auto& [base, id] : ids_by_name[0][f]) {
      auto other = ids_by_name[1][f].find(base);
      if (other != ids_by_name[1][f].end() && other->second != id) ++cross_pairs;
    }
  }

  // The mover's calls on a message: those that found one of its files at
  // the source name.
  auto mover_calls = [&](const Created& c) {
    std::vector<const MoverRecord*> calls;
    for (const MoverRecord& m : moves) {
      if (m.t >= c.t && ((m.ino0 != 0 && (m.ino0 == c.ino0 || m.ino0 == c.ino1)) ||
                         (m.ino1 != 0 && (m.ino1 == c.ino1 || m.ino1 == c.ino0)))) {
        calls.push_back(&m);
      }
    }
    return calls;
  };
  auto history = [&](const Created& c) {
    std::string text = " created at " + std::to_string(c.t / 1000) + " ms as " + c.name0 + "/" + c.name1 + ", " +
                       std::to_string(c.renames.size()) + " writer renames";
    std::vector<const MoverRecord*> calls = mover_calls(c);
    text += ", " + std::to_string(calls.size()) + " mover calls";
    int shown = 0;
    for (const MoverRecord* m : calls) {
      if ((m->HalfMove() || m->salvaged) && shown++ < 3) text += "; mover " + m->Text();
    }
    if (!calls.empty()) text += "; last mover " + calls.back()->Text();
    return text;
  };

  std::map<std::string, long> split_causes;
  long splits = 0, junk_gone = 0, junk = 0;
  std::array<long, 3> tagged{};
  std::array<long, 3> by_class{};
  for (auto& [id, c] : made) {
    if (c.t == 0) continue;
    Message m = MakeMessage(s.seed, id);
    ++by_class[m.cls];
    if (m.cls == kJunk) {
      ++junk;
      if (c.found[0].empty() && c.found[1].empty()) ++junk_gone;
    }
    if (c.damaged[0] || c.damaged[1]) fault("history of message " + std::to_string(id) + ":" + history(c));
    for (int part = 0; part < 2; ++part) {
      const char* what = part == 0 ? "header" : "body";
      if (c.found[part].size() > 1) {
        ++duplicated;
        fault("duplicated: the " + std::string(what) + " of message " + std::to_string(id) + " is in " +
              std::to_string(c.found[part].size()) + " files");
      }
      if (c.found[part].empty() && !c.deleted[part] && !c.damaged[part] && m.cls != kJunk) {
        ++lost;
        fault("lost: the " + std::string(what) + " of " + kClassNames[m.cls] + " message " + std::to_string(id) + ";" +
              history(c));
      }
    }
    for (const Place& p : c.found[0]) {
      std::string bytes;
      ReadAll(s.folders[p.folder] + "/" + p.name, &bytes);
      if (bytes != m.header) ++tagged[p.folder];
    }
    if (c.found[0].size() == 1 && c.found[1].size() == 1) {
      const Place& a = c.found[0][0];
      const Place& b = c.found[1][0];
      if (a.folder == b.folder && a.Base() == b.Base()) continue;
      ++splits;
      // Who moved one file of the pair and not the other: the mover when one
      // of its calls did (then the other file was being moved by sievbat, or
      // renamed by the writer at about that time), the writer when one of its
      // renames or its publication did.
      std::string cause = "not seen in the logs (sievbat vs mover or writer)";
      const MoverRecord* half = nullptr;
      for (const MoverRecord* call : mover_calls(c)) {
        if (call->HalfMove()) {
          half = call;
          break;
        }
      }
      if (c.publish_split) {
        cause = "writer publishing vs a tool moving into the name";
      } else if (c.restored) {
        cause = "writer taking a file away to check it vs a tool";
      } else if (half) {
        bool writer_near = false;
        for (std::int64_t t : c.renames) writer_near = writer_near || std::llabs(t - half->t) < 20000;
        cause = std::string("mover vs ") + (writer_near ? "writer rename" : "sievbat") +
                (half->ino0 == 0   ? " (header gone before the mover's call, body moved alone)"
                 : half->ino1 == 0 ? " (body gone before the mover's call, header moved alone)"
                                   : " (both there when the call began)");
      } else if (c.half_renamed) {
        cause = "writer rename vs a tool";
      }
      ++split_causes[cause];
      if (split_causes[cause] <= 2) {
        std::printf("  split: message %ld (%s) header %s, body %s: %s;%s\n", id, kClassNames[m.cls], a.Text().c_str(),
                    b.Text().c_str(), cause.c_str(), history(c).c_str());
      }
    }
  }

  long messages = by_class[0] + by_class[1] + by_class[2];
  std::printf("messages created: %ld (plain %ld, delete %ld, hold %ld)\n", messages, by_class[kPlain], by_class[kJunk],
              by_class[kHold]);
  std::printf(
      "operations: %ld files written (%ld bodies withdrawn), %ld writer renames (%ld files moved), "
      "%ld files deleted by the writer, %ld files put back, %ld sievbat passes, %ld mover moves "
      "(%ld files moved)\n",
      r.writes, r.withdrawn, r.renames, r.renamed_files, r.writer_deletes, r.restores, r.passes, r.mover_calls,
      r.mover_files);
  std::printf(
      "files at the end: %ld (Mailout %ld, Wait %ld, Errors %ld); delete-class messages gone: %ld of %ld; "
      "headers still tagged as salvaged: Mailout %ld, Wait %ld, Errors %ld\n",
      found_files, per_folder[0], per_folder[1], per_folder[2], junk_gone, junk, tagged[0], tagged[1], tagged[2]);
  std::printf("lost files: %ld\noverwritten files: %ld\nduplicated files: %ld\nmisnamed files: %ld\n", lost,
              overwritten, duplicated, misnamed);
  std::printf("split pairs: %ld", splits);
  for (const auto& [cause, n] : split_causes) std::printf("; %s: %ld", cause.c_str(), n);
  std::printf(
      "\nfiles under collision names: %ld\nnames pairing two messages' files: %ld\n"
      "names twice in another letter case: %ld\n",
      collision_names, cross_pairs, case_twins);
  std::printf("files of unknown origin: %ld\nhidden files or folders left: %ld\n", unknown, hidden);
  std::printf("sievbat passes that failed: %ld\n", r.pass_faults);
  for (const std::string& text : faults) std::printf("  %s\n", text.c_str());
  bool failed = lost || overwritten || duplicated || misnamed || unknown || hidden || splits || r.pass_faults ||
                r.child_fault;
  std::printf("%s\n", failed ? "SOAK FAILED" : "soak passed");
  return failed ? 1 : 0;
}

// ---------------------------------------------------------------- setup

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
  s.mover_log = s.root + "/mover.log";
  s.pass_log = s.root + "/sievbat.log";
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 40;
  bool keep = false;
  std::string sievbat = SIEVBAT_PATH;
  Setup s;
  s.seed = static_cast<std::uint64_t>(NowMicros()) ^ static_cast<std::uint64_t>(::getpid());
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (a == "--seed" && i + 1 < argc) {
      s.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--sievbat" && i + 1 < argc) {
      sievbat = argv[++i];
    } else if (a == "--keep") {
      keep = true;
    } else {
      std::fprintf(stderr, "usage: soak_driver [--seconds S] [--seed N] [--keep] [--sievbat PATH]\n");
      return 2;
    }
  }
  Prepare(s, sievbat);
  std::printf("soak: %.0f s in %s, seed %llu\n", seconds, s.root.c_str(), static_cast<unsigned long long>(s.seed));

  pid_t writer = StartChild([&] { Writer(s).Run(); });
  pid_t mover = StartChild([&] { RunMover(s); });
  Report r;
  std::int64_t end = NowMicros() + static_cast<std::int64_t>(seconds * 1e6);
  std::mt19937_64 rng(Mix(s.seed ^ 0x53));
  std::FILE* pass_log = std::fopen(s.pass_log.c_str(), "w");
  while (NowMicros() < end) {
    std::int64_t start = NowMicros();
    int status = RunSievbat(s);
    std::fprintf(pass_log, "P %lld %lld %d\n", static_cast<long long>(start), static_cast<long long>(NowMicros()),
                 status);
    ++r.passes;
    if (status != 0) {
      ++r.pass_faults;
      std::printf("FAULT: sievbat pass %ld ended with status %d\n", r.passes, status);
    }
    ::usleep(static_cast<useconds_t>(rng() % 5000));
  }
  std::fclose(pass_log);
  r.child_fault = !StopChild(writer, "writer");
  r.child_fault = !StopChild(mover, "mover") || r.child_fault;
  if (RunSievbat(s) != 0) ++r.pass_faults;
  ++r.passes;

  int result = Check(s, r);
  if (result == 0 && !keep) {
    std::error_code ignored;
    std::filesystem::remove_all(s.root, ignored);
  } else {
    std::printf("folders kept in %s\n", s.root.c_str());
  }
  return result;
}
