// Shared by the fault tables: a script of forced faults for the in-memory
// host, the tree changes other processes make at the worst moment, and the
// whole-tree comparison every case ends with.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "tests/platform/FakeFileSystem.h"

namespace faults {

using testing_host::FakeFileSystem;
using testing_host::Op;
using FileMap = std::map<std::string, std::string>;
using TreeChange = std::function<void(FakeFileSystem&)>;

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
  return [paths = std::move(paths)](FakeFileSystem& fs) {
    for (const std::string& path : paths) fs.RemoveTree(path);
  };
}
// Another process writes a file of that name.
inline TreeChange Take(std::string path, std::string bytes) {
  return [path = std::move(path), bytes = std::move(bytes)](FakeFileSystem& fs) { fs.AddFile(path, bytes); };
}

// Makes `faults` the host's hook. The returned counts tell how often each
// fault's operation came; Unfired names those that never reached their nth,
// since a case whose fault never fired proves nothing.
inline std::shared_ptr<const std::vector<int>> Install(FakeFileSystem& fs, std::vector<Fault> faults) {
  auto seen = std::make_shared<std::vector<int>>(faults.size(), 0);
  fs.before = [&fs, faults = std::move(faults), seen](Op op, const std::string& path) {
    bool allow = true;
    for (std::size_t i = 0; i < faults.size(); ++i) {
      const Fault& f = faults[i];
      if (f.op != op || f.path != path) continue;
      int count = ++(*seen)[i];
      if (f.nth != 0 && count != f.nth) continue;
      if (f.change) f.change(fs);
      if (f.refuse) allow = false;
    }
    return allow;
  };
  return seen;
}

inline std::string Unfired(const std::vector<Fault>& faults, const std::vector<int>& seen) {
  std::string text;
  for (std::size_t i = 0; i < faults.size(); ++i) {
    if (seen[i] < std::max(faults[i].nth, 1)) {
      text += "operation " + std::to_string(static_cast<int>(faults[i].op)) + " on " + faults[i].path + " came " +
              std::to_string(seen[i]) + " times\n";
    }
  }
  return text;
}

// A path's expected bytes, or nullopt: no file there.
using Delta = std::vector<std::pair<std::string, std::optional<std::string>>>;

inline FileMap Apply(FileMap files, const Delta& delta) {
  for (const auto& [path, bytes] : delta) {
    if (bytes) {
      files[path] = *bytes;
    } else {
      files.erase(path);
    }
  }
  return files;
}

// One line per file, bytes escaped, so that a failed comparison shows the
// whole tree readably.
inline std::string Describe(const FileMap& files) {
  std::string text;
  for (const auto& [path, bytes] : files) {
    text += path + " = \"";
    platform::AppendEscaped(text, bytes);
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
    std::string key = header == files.end() ? "?" : header->second;
    if (key.size() > 64) key = key.substr(0, 40) + "..." + std::to_string(std::hash<std::string>{}(key));
    named[folder + "/~col{" + key + "}" + name.substr(dot)] = bytes;
  }
  return named;
}

// One line per file, long contents cut to their start and a hash.
inline std::string Brief(const FileMap& files) {
  FileMap brief;
  for (const auto& [path, bytes] : files) {
    brief[path] = bytes.size() <= 80 ? bytes
                                     : bytes.substr(0, 40) + "...(" + std::to_string(bytes.size()) + " bytes, " +
                                           std::to_string(std::hash<std::string>{}(bytes)) + ")";
  }
  return Describe(brief);
}

// Runs `run` on a fresh tree stopped before its N-th change, for every N,
// then `recover` (the next pass). The tree must then equal what one
// uninterrupted `run` leaves, with every changed folder flushed, and
// `check` (the faults it finds, empty when none) holds at every instant of
// death. Returns what went wrong, empty when nothing did.
struct CrashScript {
  std::function<void(FakeFileSystem&)> build;
  std::function<void()> run;
  std::function<void()> recover;
  std::function<std::string(const FileMap&)> check = nullptr;
  bool hard_links = true;
};

inline std::string CrashAtEveryChange(const CrashScript& script) {
  FakeFileSystem clean;
  clean.hard_links = script.hard_links;
  FileMap expected;
  {
    platform::ScopedHost host(clean);
    script.build(clean);
    script.run();
    expected = ByMessage(clean.Files());
  }
  if (clean.changes() == 0) return "the run changed nothing\n";
  std::string faults;
  for (int n = 1; n <= clean.changes(); ++n) {
    FakeFileSystem fs;
    fs.hard_links = script.hard_links;
    platform::ScopedHost host(fs);
    script.build(fs);
    fs.StopBeforeChange(n);
    script.run();
    std::string at = "killed before change " + std::to_string(n) + ": ";
    if (!fs.stopped()) return faults + at + "the run made fewer changes\n";
    if (script.check) {
      std::string found = script.check(fs.Files());
      if (!found.empty()) faults += at + found + "\n";
    }
    fs.Revive();
    script.recover();
    FileMap after = ByMessage(fs.Files());
    if (after != expected) faults += at + "after the next pass\n" + Brief(after) + "instead of\n" + Brief(expected);
    if (!fs.unsynced().empty()) faults += at + "not flushed: " + *fs.unsynced().begin() + "\n";
    if (!faults.empty()) break;  // the first instant that fails tells enough
  }
  return faults;
}

}  // namespace faults
