#include "tests/TestSupport.h"

#include <grp.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/Text.h"
#include "shared/Module_MySafeRename.h"
#include "shared/Module_SalvageTag.h"

namespace test_support {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrane-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}


std::string ListNames(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string() + (entry.is_directory() ? "/" : ""));
  }
  std::string joined;
  for (const auto& n : names) joined += (joined.empty() ? "" : " ") + n;
  return joined;
}

std::map<std::string, std::string> TreeUnder(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    tree[entry.path().string().substr(root.size())] = entry.is_directory() ? "/" : ReadFile(entry.path());
  }
  return tree;
}

int RunCommand(const std::string& command, std::string* output) {
  TempFolder temp;
  int status = std::system((command + " > '" + temp / "output" + "' 2>&1").c_str());
  *output = ReadFile(temp / "output");
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string InstallProgram(const std::string& program, const std::string& folder, const std::string& rules) {
  const std::string copy = folder + "/" + std::filesystem::path(program).filename().string();
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(program, copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
  WriteFile(folder + "/Filter.ini", rules);
  return copy;
}

int AsNobody(const std::function<bool()>& body) {
  pid_t child = ::fork();
  if (child == 0) {
    bool ok = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
              ::setresuid(65534, 65534, 65534) == 0 && body();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Tagged(const std::string& header) {
  return header.substr(0, header.size() - 2) + std::string(SalvageTagText);
}

std::string FirstCollisionName() {
  ResetCollisionNameGenerator();
  std::string name = platform::AsciiLower(NewCollisionName());
  ResetCollisionNameGenerator();
  return name;
}

std::string NotWhole(const std::vector<Followed>& messages, const std::map<std::string, std::string>& files,
                     const std::string& foreign) {
  std::set<std::string> held, headers{foreign};
  for (const auto& [path, bytes] : files) held.insert(bytes);
  for (const Followed& m : messages) headers.insert({m.header, m.stripped.empty() ? m.header : m.stripped});
  for (const auto& [path, bytes] : files) {
    if (path.ends_with(".q0") && path.find("/.") == std::string::npos && !headers.contains(bytes)) {
      return path + " is neither its old nor its new header";
    }
  }
  for (const Followed& m : messages) {
    bool header = held.contains(m.header) || held.contains(m.stripped.empty() ? m.header : m.stripped);
    if (!m.deleted && (!header || !held.contains(m.body))) return "lost: " + m.header.substr(0, 80);
  }
  return "";
}

}  // namespace test_support
