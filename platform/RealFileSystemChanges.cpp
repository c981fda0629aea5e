// The changing side of the real host: new versions of a file, locks,
// no-replace renames, links, removal, and flushing the folders changed.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/RealFileSystem.h"
#include "platform/RealFileSystemCommon.h"
#include "platform/SplitMix.h"
#include "platform/Text.h"

namespace platform {
namespace {

using real_host::FolderForOpen;
using real_host::Join;
using real_host::OpenOrdinary;
using real_host::StatNoFollow;

bool WriteFully(int fd, std::string_view bytes, off_t offset, bool at_end) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = at_end ? ::write(fd, bytes.data() + done, bytes.size() - done)
                       : ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                  offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Renames `from` to `to` (relative to the folder `to_dir`) only when nothing
// has that name. File systems without the no-replace flag get a hard link,
// which cannot replace either, and the source goes only once the link
// stands; a kill between the two leaves the file under both names.
bool RenameWithoutReplacing(const char* from, int to_dir, const char* to) {
  if (::renameat2(AT_FDCWD, from, to_dir, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  if (::linkat(AT_FDCWD, from, to_dir, to, 0) != 0) return false;
  if (::unlink(from) == 0) return true;
  ::unlinkat(to_dir, to, 0);
  return false;
}

}  // namespace

bool NewVersionKeepsAccess(mode_t mode, bool owner_kept, bool group_kept) {
  return group_kept && (owner_kept || ((mode >> 3) & 7) == ((mode >> 6) & 7));
}

static std::string TempName() {
  static std::uint64_t state = static_cast<std::uint64_t>(::getpid()) << 32 ^
                               static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(SplitMix64(state)));
  return std::string(kHiddenPrefix) + "new." + digits;
}

// A new version being written beside its original, locked from its creation
// to its end; removed unless it replaced the original.
class RealFileSystem::FdTempFile : public TempFile {
 public:
  FdTempFile(RealFileSystem& fs, int fd, std::string path) : fs_(fs), fd_(fd), path_(std::move(path)) {}
  ~FdTempFile() override {
    if (!replaced_) fs_.Unlink(path_);
    ::close(fd_);
  }
  FdTempFile(const FdTempFile&) = delete;
  FdTempFile& operator=(const FdTempFile&) = delete;

  bool Write(std::string_view bytes) override { return WriteFully(fd_, bytes, 0, true); }

  RealFileSystem& fs_;
  int fd_;
  std::string path_;
  bool replaced_ = false;
};

class RealFileSystem::FdFileHandle : public FileHandle {
 public:
  FdFileHandle(RealFileSystem& fs, int fd, std::string path) : fs_(fs), fd_(fd), path_(std::move(path)) {}
  ~FdFileHandle() override { ::close(fd_); }  // also lets go of the lock
  FdFileHandle(const FdFileHandle&) = delete;
  FdFileHandle& operator=(const FdFileHandle&) = delete;

  bool ReadAll(std::string* out) override {
    out->clear();
    char buffer[65536];
    for (off_t offset = 0;;) {
      ssize_t n = ::pread(fd_, buffer, sizeof buffer, offset);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      out->append(buffer, static_cast<std::size_t>(n));
      offset += n;
    }
    read_ok_ = ::fstat(fd_, &read_) == 0 && static_cast<std::uint64_t>(read_.st_size) == out->size();
    return true;
  }

  std::unique_ptr<TempFile> NewVersion() override {
    std::string folder = SplitPath(path_).first;
    for (int tries = 0; tries < 16; ++tries) {
      std::string path = Join(folder, TempName());
      bool fresh = fs_.IndexIsFresh(folder);
      int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0 && errno == EEXIST) continue;
      fs_.AfterOwnChange(folder, fresh && fd >= 0, nullptr, nullptr);
      if (fd < 0) return nullptr;
      fs_.changed_.insert(folder);
      // Locked at once: a pass that finds it meanwhile leaves it alone.
      ::flock(fd, LOCK_EX | LOCK_NB);
      return std::make_unique<FdTempFile>(fs_, fd, path);
    }
    return nullptr;
  }

  bool Replace(TempFile& version) override {
    auto& temp = static_cast<FdTempFile&>(version);
    if (!read_ok_ || !KeepAccess(temp.fd_) || ::fsync(temp.fd_) != 0) return false;
    if (fs_.before_replace) fs_.before_replace(path_);
    // The name must still hold the very file that was read, as it was.
    struct stat now {};
    if (!StatNoFollow(path_, &now) || now.st_dev != read_.st_dev || now.st_ino != read_.st_ino ||
        now.st_nlink != 1 || now.st_size != read_.st_size || now.st_ctim.tv_sec != read_.st_ctim.tv_sec ||
        now.st_ctim.tv_nsec != read_.st_ctim.tv_nsec) {
      return false;
    }
    std::string folder = SplitPath(path_).first;
    bool fresh = fs_.IndexIsFresh(folder);
    bool ok = ::rename(temp.path_.c_str(), path_.c_str()) == 0;
    fs_.AfterOwnChange(folder, fresh && ok, nullptr, nullptr);
    temp.replaced_ = ok;
    return ok;
  }

 private:
  // Gives the new version the original's owner, group and mode. Only a
  // privileged process may give a file away; otherwise the new version
  // stays ours, which is fine only while the group has the owner's rights.
  bool KeepAccess(int fd) {
    struct stat mine {};
    if (::fstat(fd, &mine) != 0) return false;
    bool owner = mine.st_uid == read_.st_uid, group = mine.st_gid == read_.st_gid;
    if ((!owner || !group) && ::geteuid() == 0 && ::fchown(fd, read_.st_uid, read_.st_gid) == 0) {
      owner = group = true;
    } else if (!group && ::fchown(fd, static_cast<uid_t>(-1), read_.st_gid) == 0) {
      group = true;
    }
    if (!NewVersionKeepsAccess(read_.st_mode, owner, group)) return false;
    return ::fchmod(fd, read_.st_mode & 07777) == 0;
  }

  RealFileSystem& fs_;
  int fd_;
  std::string path_;
  struct stat read_ {};
  bool read_ok_ = false;
};

// A move target, held open as the folder it was when opened.
class RealFileSystem::FdFolder : public TargetFolder {
 public:
  FdFolder(int fd, std::string path) : TargetFolder(std::move(path)), fd_(fd) {}
  ~FdFolder() override { ::close(fd_); }
  FdFolder(const FdFolder&) = delete;
  FdFolder& operator=(const FdFolder&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

std::unique_ptr<FileHandle> RealFileSystem::OpenReadWrite(const std::string& path) {
  struct stat st {};
  std::string actual;
  int fd = OpenMessageFile(path, O_RDONLY, &st, &actual);
  if (fd < 0) return nullptr;
  // A file with another hard link is also a file somewhere else, perhaps
  // outside the queue: it is never rewritten.
  if (st.st_nlink != 1 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FdFileHandle>(*this, fd, actual);
}

namespace {
class FdMessageLock : public MessageLock {
 public:
  explicit FdMessageLock(int fd) : fd_(fd) {}
  ~FdMessageLock() override { ::close(fd_); }
  FdMessageLock(const FdMessageLock&) = delete;
  FdMessageLock& operator=(const FdMessageLock&) = delete;

 private:
  int fd_;
};
}  // namespace

LockResult RealFileSystem::LockMessage(const std::string& path, std::unique_ptr<MessageLock>* lock) {
  std::optional<std::string> actual = FindFile(path);
  if (!actual) return LockResult::kMissing;
  return LockExact(*actual, lock);
}

LockResult RealFileSystem::LockExact(const std::string& path, std::unique_ptr<MessageLock>* lock) {
  struct stat opened {};
  int fd = OpenOrdinary(path, O_RDONLY, &opened);
  if (fd < 0) return errno == EACCES || errno == EPERM ? LockResult::kUnlocked : LockResult::kMissing;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? LockResult::kBusy : LockResult::kUnlocked;
  }
  // The file may have been moved away between the open and the lock, by the
  // program that held it: then this path no longer names it.
  struct stat now {};
  if (!StatNoFollow(path, &now) || now.st_dev != opened.st_dev || now.st_ino != opened.st_ino) {
    ::close(fd);
    return LockResult::kMissing;
  }
  *lock = std::make_unique<FdMessageLock>(fd);
  return LockResult::kHeld;
}

bool RealFileSystem::Remove(const std::string& path) {
  std::optional<std::string> actual = FindFile(path);
  if (!actual) return false;
  auto [folder, name] = SplitPath(*actual);
  bool fresh = IndexIsFresh(folder);
  bool ok = ::unlink(actual->c_str()) == 0;
  AfterOwnChange(folder, fresh && ok, &name, nullptr);
  if (ok) changed_.insert(folder);
  return ok;
}

bool RealFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  auto [to_folder, to_name] = SplitPath(to);
  if (to_name.empty() || to_name.front() == '.') return false;
  std::optional<std::string> source = FindFile(from);
  if (!source) return false;
  if (NameTaken(to)) return false;  // by anything, perhaps in another letter case
  auto [from_folder, from_name] = SplitPath(*source);
  bool from_fresh = IndexIsFresh(from_folder);
  bool to_fresh = IndexIsFresh(to_folder);

  bool ok = RenameWithoutReplacing(source->c_str(), AT_FDCWD, to.c_str());
  AfterOwnChange(from_folder, from_fresh && ok, &from_name, nullptr);
  AfterOwnChange(to_folder, to_fresh && ok, nullptr, &to_name);
  if (ok) changed_.insert({from_folder, to_folder});
  return ok;
}

std::unique_ptr<TargetFolder> RealFileSystem::OpenTargetFolder(const std::string& path) {
  int fd = ::open(FolderForOpen(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<FdFolder>(fd, path);
}

bool RealFileSystem::NameTakenIn(TargetFolder& folder, const std::string& name) {
  struct stat st {};
  if (::fstatat(static_cast<FdFolder&>(folder).fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
  return !LiveFolder(*this, folder.path()).AnyLike(name).empty();
}

LinkResult RealFileSystem::LinkInto(const std::string& from, TargetFolder& folder, const std::string& name) {
  if (name.empty() || name.front() == '.') return LinkResult::kFailed;
  std::optional<std::string> source = FindFile(from);
  if (!source || NameTakenIn(folder, name)) return LinkResult::kFailed;
  bool fresh = IndexIsFresh(folder.path());
  bool ok = ::linkat(AT_FDCWD, source->c_str(), static_cast<FdFolder&>(folder).fd(), name.c_str(), 0) == 0;
  int error = errno;
  AfterOwnChange(folder.path(), fresh && ok, nullptr, &name);
  if (ok) {
    changed_.insert(folder.path());
    return LinkResult::kLinked;
  }
  bool unsupported = error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
  return unsupported ? LinkResult::kUnsupported : LinkResult::kFailed;
}

bool RealFileSystem::RenameInto(const std::string& from, TargetFolder& folder, const std::string& name) {
  if (name.empty() || name.front() == '.') return false;
  std::optional<std::string> source = FindFile(from);
  if (!source || NameTakenIn(folder, name)) return false;
  int to_fd = static_cast<FdFolder&>(folder).fd();
  auto [from_folder, from_name] = SplitPath(*source);
  bool from_fresh = IndexIsFresh(from_folder);
  bool to_fresh = IndexIsFresh(folder.path());
  bool ok = RenameWithoutReplacing(source->c_str(), to_fd, name.c_str());
  AfterOwnChange(from_folder, from_fresh && ok, &from_name, nullptr);
  AfterOwnChange(folder.path(), to_fresh && ok, nullptr, &name);
  if (ok) changed_.insert({from_folder, folder.path()});
  return ok;
}

bool RealFileSystem::RemoveFrom(TargetFolder& folder, const std::string& name) {
  struct stat st {};
  int fd = static_cast<FdFolder&>(folder).fd();
  if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return false;
  bool fresh = IndexIsFresh(folder.path());
  bool ok = ::unlinkat(fd, name.c_str(), 0) == 0;
  AfterOwnChange(folder.path(), fresh && ok, &name, nullptr);
  if (ok) changed_.insert(folder.path());
  return ok;
}

bool RealFileSystem::RenameExact(const std::string& from, const std::string& to) {
  auto [from_folder, from_name] = SplitPath(from);
  auto [to_folder, to_name] = SplitPath(to);
  struct stat st {};
  if (from_folder != to_folder || to_name.empty() || !StatNoFollow(from, &st) || !S_ISREG(st.st_mode)) return false;
  // A visible name must be free in every letter case; our hidden names are
  // only ever taken exactly.
  if (to_name.front() != '.' && NameTaken(to)) return false;
  bool fresh = IndexIsFresh(from_folder);
  bool ok = RenameWithoutReplacing(from.c_str(), AT_FDCWD, to.c_str());
  const std::string* removed = from_name.front() == '.' ? nullptr : &from_name;
  const std::string* added = to_name.front() == '.' ? nullptr : &to_name;
  AfterOwnChange(from_folder, fresh && ok, removed, added);
  if (ok) changed_.insert(from_folder);
  return ok;
}

bool RealFileSystem::RemoveExact(const std::string& path) {
  struct stat st {};
  if (!StatNoFollow(path, &st) || !S_ISREG(st.st_mode)) return false;
  return Unlink(path);
}

bool RealFileSystem::Unlink(const std::string& path) {
  auto [folder, name] = SplitPath(path);
  bool fresh = IndexIsFresh(folder);
  bool ok = ::unlink(path.c_str()) == 0;
  AfterOwnChange(folder, fresh && ok, name.front() == '.' ? nullptr : &name, nullptr);
  if (ok) changed_.insert(folder);
  return ok;
}

std::optional<std::string> RealFileSystem::WhyFolderUnchangeable(const std::string& folder) {
  std::string who = "uid " + std::to_string(::geteuid()) + " gid " + std::to_string(::getegid());
  struct stat st {};
  if (::stat(FolderForOpen(folder).c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    return "cannot be reached as " + who + ": " + std::strerror(errno);
  }
  if (!S_ISDIR(st.st_mode) || ::access(FolderForOpen(folder).c_str(), W_OK | X_OK) == 0) return std::nullopt;
  return who + " may not change files in it: " + std::strerror(errno);
}

bool RealFileSystem::SyncChangedFolders() {
  bool ok = true;
  for (const std::string& folder : changed_) {
    int fd = ::open(FolderForOpen(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) ok = false;
    if (fd >= 0) ::close(fd);
  }
  changed_.clear();
  return ok;
}

}  // namespace platform
