// What both halves of the real host share: path pieces, opening an ordinary
// file, and the live view of one folder's names.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/RealFileSystem.h"
#include "platform/Text.h"

namespace platform::real_host {

inline std::string FolderForOpen(const std::string& folder) { return folder.empty() ? "." : folder; }

inline std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : JoinPath(folder, name);
}

// Status of exactly this path, a final link not followed.
inline bool StatNoFollow(const std::string& path, struct stat* st) {
  return ::fstatat(AT_FDCWD, path.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Opens `path` with `flags`, refusing a final link (O_NOFOLLOW) and never
// waiting on a FIFO or device (O_NONBLOCK); keeps the descriptor only when it
// is an ordinary file. -1 with errno set otherwise (ENOENT: nothing there).
inline int OpenOrdinary(const std::string& path, int flags, struct stat* st) {
  int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

}  // namespace platform::real_host

namespace platform {

// One folder of the real host, looked at live: an exact name costs one
// status call; other letter cases come from the folder's index.
class RealFileSystem::LiveFolder : public NameIndex {
 public:
  LiveFolder(RealFileSystem& fs, std::string folder) : fs_(fs), folder_(std::move(folder)) {}

  Kind KindOf(const std::string& name) override {
    struct stat st {};
    if (!real_host::StatNoFollow(real_host::Join(folder_, name), &st)) return Kind::kNone;
    return S_ISREG(st.st_mode) ? Kind::kFile : Kind::kOther;
  }
  std::vector<std::string> FilesLike(const std::string& name) override {
    std::vector<std::string> like;
    for (const std::string& candidate : AnyLike(name)) {
      if (KindOf(candidate) == Kind::kFile) like.push_back(candidate);
    }
    return like;
  }
  // Every name of the folder equal to `name` in any letter case, as far as
  // the index knows them; all-lower-case names are not indexed and are tried
  // directly.
  std::vector<std::string> AnyLike(const std::string& name) {
    std::vector<std::string> like;
    std::string lower = AsciiLower(name);
    struct stat st {};
    if (real_host::StatNoFollow(real_host::Join(folder_, lower), &st)) like.push_back(lower);
    for (std::string& other : fs_.CapitalisedLike(folder_, lower)) like.push_back(std::move(other));
    return like;
  }

 private:
  RealFileSystem& fs_;
  std::string folder_;
};

}  // namespace platform
