// Helpers for tests that work on real files in a fresh temporary folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/RealFileSystem.h"

namespace test_support {

// A fresh temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or, given nullptr, unsets) one environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value)
      : name_(name), old_(::getenv(name) ? std::optional<std::string>(::getenv(name)) : std::nullopt) {
    Set(value);
  }
  ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

 private:
  void Set(const char* value) { value ? ::setenv(name_, value, 1) : ::unsetenv(name_); }
  const char* name_;
  std::optional<std::string> old_;
};

// The real file system, with the program folder (where Filter.ini is read)
// set by the test; the process's host while it lives.
class TestHost : public platform::RealFileSystem {
 public:
  explicit TestHost(std::string program_folder) : program_folder_(std::move(program_folder)) {}
  std::string ProgramFolder() override { return program_folder_; }

 private:
  std::string program_folder_;
  platform::ScopedHost installed_{*this};
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// Names in a folder, sorted, hidden ones included.
std::string ListNames(const std::string& folder);
// Every entry under `root` by its path below it ("/Wait/a.q0"): a file by its
// bytes, a folder as "/"; hidden ones included.
std::map<std::string, std::string> TreeUnder(const std::string& root);
// Runs `command` through the shell with its stdout and stderr into
// `output`; the exit status, or -1 when it did not exit.
int RunCommand(const std::string& command, std::string* output);
// Copies `program` into `folder` (made here) with a Filter.ini of `rules`
// beside it, where the program reads it; the copy's path.
std::string InstallProgram(const std::string& program, const std::string& folder, const std::string& rules);
// Runs `body` in a child process as the unprivileged user 65534; its exit
// status (0 when `body` returned true). The test must run as root.
int AsNobody(const std::function<bool()>& body);
// A header file (ending in its empty line) with the viewer's salvage tag.
std::string Tagged(const std::string& header);
// The first collision name after ResetCollisionNameGenerator(), in lower case
// as a moved file gets it; the generator is left reset.
std::string FirstCollisionName();

// A message followed through passes that may be killed: its header, the
// header a pass leaves (empty: the same), its body, and whether a pass deletes it.
struct Followed { std::string header, stripped, body; bool deleted = false; };
// What is wrong in `files` (path -> bytes) at the instant of a kill, empty
// when nothing: a visible ".q0" file that holds neither form of a header nor
// `foreign`, or a message that is not being deleted without its header or
// its body anywhere.
std::string NotWhole(const std::vector<Followed>& messages, const std::map<std::string, std::string>& files,
                     const std::string& foreign = "theirs");

}  // namespace test_support
