// Shared by the fault tables: a script of forced faults for the in-memory
// host, the tree changes other processes make at the worst moment, and the
// whole-tree comparison every case ends with.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "shared/Module_SalvageTag.h"
#include "tests/TestSupport.h"
#include "tests/platform/FakeFileSystem.h"

namespace faults {

using testing_host::FakeFileSystem;
using testing_host::Op;
using FileMap = std::map<std::string, std::string>;
using TreeChange = std::function<void(FakeFileSystem&)>;
using test_support::Tagged;

// A header file: its two first lines, `lines`, the blank line that ends it.
inline std::string Header(const std::string& lines) {
  return "Q 1 smtp relay 0\r\n12/06/26 14:03:22\r\n" + lines + "\r\n";
}
// Rules: a "-" tag deletes, a "W" tag holds, a small "w" only labels.
inline const std::string kRules =
    "\"junk-\",\"Subject: \",\"lottery\"\r\n\"bulkW\",\"From: \",\"newsletter@\"\r\n\"laterw\",\"From: \",\"later@\"\r\n";
inline const std::string kDel = Header("From: a@x\r\nTo: op@example.net\r\nSubject: you won the lottery\r\n");
inline const std::string kHold = Header("From: newsletter@shop\r\nTo: op@example.net\r\nSubject: news\r\n");
inline const std::string kPlain = Header("From: a@x\r\nTo: op@example.net\r\nSubject: hello\r\n");

// One forced fault: before the `nth` operation `op` on exactly `path` (every
// such operation when nth is 0), `change` alters the tree, then the operation
// is refused when `refuse` is set.
struct Fault {
  Op op;
  std::string path;
  int nth = 0;
  bool refuse = false;
  TreeChange change;
};

inline Fault Refuse(Op op, std::string path, int nth = 0) { return Fault{op, std::move(path), nth, true, nullptr}; }
inline Fault Before(Op op, std::string path, int nth, TreeChange change) {
  return Fault{op, std::move(path), nth, false, std::move(change)};
}

// The remailer (or an operator) removes files or folders with all they hold.
inline TreeChange Vanish(std::vector<std::string> paths) {
  return [paths = std::move(paths)](FakeFileSystem& fs) { for (const std::string& p : paths) fs.RemoveTree(p); };
}
// The file at `path` vanishes just before the first `op` on it.
inline Fault VanishesAt(Op op, const std::string& path) { return Before(op, path, 1, Vanish({path})); }
// Another process writes a file of that name.
inline TreeChange Take(std::string path, std::string bytes) {
  return [path = std::move(path), bytes = std::move(bytes)](FakeFileSystem& fs) { fs.AddFile(path, bytes); };
}

// Makes `faults` the host's hook. Returns what names the faults whose
// operation never came its nth time, since a case whose fault never fired
// proves nothing.
inline std::function<std::string()> Install(FakeFileSystem& fs, const std::vector<Fault>& faults) {
  auto seen = std::make_shared<std::vector<int>>(faults.size(), 0);
  fs.before = [&fs, faults, seen](Op op, const std::string& path) {
    bool allow = true;
    for (std::size_t i = 0; i < faults.size(); ++i) {
      const Fault& f = faults[i];
      if (f.op != op || f.path != path || (++(*seen)[i] != f.nth && f.nth != 0)) continue;
      if (f.change) f.change(fs);
      allow &= !f.refuse;
    }
    return allow;
  };
  return [faults, seen] {
    std::string text;
    for (std::size_t i = 0; i < faults.size(); ++i) {
      if ((*seen)[i] < std::max(faults[i].nth, 1)) text += "operation on " + faults[i].path + " came too rarely\n";
    }
    return text;
  };
}

// A path's expected bytes, or nullopt: no file there.
using Delta = std::vector<std::pair<std::string, std::optional<std::string>>>;

inline Delta operator+(Delta a, const Delta& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// The pair `stem` in `folder` with these bytes, or gone.
inline Delta Pair(const std::string& folder, const std::string& stem, std::optional<std::string> header,
                  std::optional<std::string> body) {
  return {{folder + "/" + stem + ".q0", std::move(header)}, {folder + "/" + stem + ".q1", std::move(body)}};
}
inline Delta Gone(const std::string& folder, std::initializer_list<const char*> stems) {
  Delta gone;
  for (const char* stem : stems) gone = gone + Pair(folder, stem, std::nullopt, std::nullopt);
  return gone;
}

inline FileMap Apply(FileMap files, const Delta& delta) {
  for (const auto& [path, bytes] : delta) bytes ? void(files[path] = *bytes) : void(files.erase(path));
  return files;
}

// One line per file, bytes escaped (longer ones cut to their start, size and
// hash), so that a failed comparison shows the whole tree readably.
inline std::string Describe(const FileMap& files, std::size_t longest = std::string::npos) {
  std::string text;
  for (const auto& [path, bytes] : files) {
    text += path + " = \"";
    platform::AppendEscaped(text, bytes.size() <= longest ? bytes : bytes.substr(0, longest / 2));
    if (bytes.size() > longest) text += "...(" + std::to_string(std::hash<std::string>{}(bytes)) + ")";
    text += "\"\n";
  }
  return text;
}

// The tree with every collision name ("~col" and four symbols) written as
// the header its pair holds, so that runs which drew other names compare.
inline FileMap ByMessage(const FileMap& files) {
  FileMap named;
  for (const auto& [path, bytes] : files) {
    auto [folder, name] = platform::SplitPath(path);
    std::size_t dot = name.find('.');
    if (dot == std::string::npos || !platform::EqualsIgnoreCase(name.substr(0, 4), "~col")) {
      named[path] = bytes;
      continue;
    }
    auto header = files.find(folder + "/" + name.substr(0, dot) + ".q0");
    std::string key = header == files.end() ? "?" : std::to_string(std::hash<std::string>{}(header->second));
    named[folder + "/~col{" + key + "}" + name.substr(dot)] = bytes;
  }
  return named;
}

// Runs `run` on a fresh tree stopped before its N-th change, for every N,
// then `recover` (the next pass). The tree must then equal what one
// uninterrupted `run` leaves, with every changed folder flushed, and
// `check` (the faults it finds, empty when none) holds at every instant of
// death. Returns what went wrong at the first instant that fails.
struct CrashScript {
  std::function<void(FakeFileSystem&)> build;
  std::function<void()> run;
  std::function<void()> recover;
  std::function<std::string(const FileMap&)> check = nullptr;
  bool hard_links = true;
};

inline std::string CrashAtEveryChange(const CrashScript& script) {
  FileMap expected;
  int changes = 0;
  for (int n = 0; n <= changes; ++n) {  // n = 0: the uninterrupted run
    FakeFileSystem fs;
    fs.hard_links = script.hard_links;
    script.build(fs);
    if (n > 0) fs.StopBeforeChange(n);
    script.run();
    if (n == 0) {
      expected = ByMessage(fs.Files()), changes = fs.changes();
      if (changes == 0) return "the run changed nothing\n";
      continue;
    }
    std::string at = "killed before change " + std::to_string(n) + ": ";
    if (!fs.stopped()) return at + "the run made fewer changes\n";
    std::string found = script.check ? script.check(fs.Files()) : "";
    if (!found.empty()) return at + found + "\n";
    fs.Revive();
    script.recover();
    FileMap after = ByMessage(fs.Files());
    if (after != expected) return at + "after the next pass\n" + Describe(after, 80) + "instead of\n" + Describe(expected, 80);
    if (!fs.unsynced().empty()) return at + "not flushed: " + *fs.unsynced().begin() + "\n";
  }
  return "";
}

}  // namespace faults
