#include "batch/QueueAccess.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileSystem.h"

namespace {

std::string Identity() {
  return "uid " + std::to_string(::geteuid()) + " gid " + std::to_string(::getegid());
}

// Why the folder at `path` cannot be changed; nullopt when it can, when
// nothing is there, or when something else is there (the pass tells).
std::optional<std::string> FolderFault(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    // A folder behind one the user may not search would look missing.
    return "cannot be reached as " + Identity() + ": " + std::strerror(errno);
  }
  if (!S_ISDIR(st.st_mode)) return std::nullopt;
  // Deleting, holding and rewriting a message all add or remove names here.
  if (::access(path.c_str(), W_OK | X_OK) == 0) return std::nullopt;
  return Identity() + " may not change files in it: " + std::strerror(errno);
}

}  // namespace

std::optional<std::string> QueueChangeFault(const std::string& folder) {
  if (std::optional<std::string> fault = FolderFault(folder)) {
    return folder + ": " + *fault + "; no message can be deleted, held or stripped";
  }
  std::string wait = platform::JoinPath(folder, "Wait");
  if (std::optional<std::string> fault = FolderFault(wait)) return wait + ": " + *fault + "; no message can be held";
  return std::nullopt;
}
