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

}  // namespace faults
