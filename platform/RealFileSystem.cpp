#include "platform/RealFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/Text.h"

namespace platform {
namespace {

std::string FolderForOpen(const std::string& folder) { return folder.empty() ? "." : folder; }

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + std::string(kSep) + name;
}

bool IsOrdinaryFileAt(const std::string& path, struct stat* st) {
  return ::stat(path.c_str(), st) == 0 && S_ISREG(st->st_mode);
}

class FdReadStream : public ReadStream {
 public:
  FdReadStream(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~FdReadStream() override { ::close(fd_); }
  FdReadStream(const FdReadStream&) = delete;
  FdReadStream& operator=(const FdReadStream&) = delete;

  long long Read(char* buffer, std::size_t capacity) override {
    for (;;) {
      ssize_t n = ::read(fd_, buffer, capacity);
      if (n >= 0) return n;
      if (errno != EINTR) return -1;
    }
  }
  std::uint64_t Size() const override { return size_; }

 private:
  int fd_;
  std::uint64_t size_;
};

// Opens an existing ordinary file; -1 when it is missing or not ordinary.
int OpenExisting(const std::string& path, int flags, struct stat* st) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int OpenExisting(const std::string& path, int flags) {
  struct stat st {};
  return OpenExisting(path, flags, &st);
}

bool IsHiddenOrEmptyName(const std::string& path) {
  std::size_t cut = path.rfind(kPathSeparator);
  std::size_t start = cut == std::string::npos ? 0 : cut + 1;
  return start >= path.size() || path[start] == '.';
}

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

class FdFileHandle : public FileHandle {
 public:
  explicit FdFileHandle(int fd) : fd_(fd) {}
  ~FdFileHandle() override { ::close(fd_); }  // also lets go of the lock
  FdFileHandle(const FdFileHandle&) = delete;
  FdFileHandle& operator=(const FdFileHandle&) = delete;

  std::optional<std::uint64_t> Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
  }
  bool ReadAll(std::string* out) override {
    out->clear();
    char buffer[65536];
    for (off_t offset = 0;;) {
      ssize_t n = ::pread(fd_, buffer, sizeof buffer, offset);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) return true;
      out->append(buffer, static_cast<std::size_t>(n));
      offset += n;
    }
  }
  bool WriteAt(std::uint64_t offset, std::string_view bytes) override {
    return WriteFully(fd_, bytes, static_cast<off_t>(offset), false);
  }
  bool Truncate(std::uint64_t length) override { return ::ftruncate(fd_, static_cast<off_t>(length)) == 0; }

 private:
  int fd_;
};

}  // namespace

std::optional<RealFileSystem::Stamp> RealFileSystem::StampOf(const std::string& folder) {
  struct stat st {};
  if (::stat(FolderForOpen(folder).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return Stamp{st.st_dev, st.st_ino, st.st_mtim};
}

bool RealFileSystem::ForEachEntry(const std::string& folder, const std::string& mask,
                                  const std::function<void(const DirEntry&)>& visit) {
  std::optional<Stamp> stamp = StampOf(folder);
  DIR* dir = ::opendir(FolderForOpen(folder).c_str());
  if (dir == nullptr) return false;
  // The whole folder is read anyway, so the letter-case index comes for free.
  FolderIndex index;
  if (stamp) index.stamp = *stamp;
  int dfd = ::dirfd(dir);
  while (struct dirent* d = ::readdir(dir)) {
    std::string name = d->d_name;
    if (name.empty() || name.front() == '.') continue;
    if (HasUpperAscii(name)) index.capitalised.emplace(AsciiLower(name), name);
    if (!MatchesMask(name, mask)) continue;
    DirEntry entry;
    entry.name = std::move(name);
    struct stat st {};
    if (::fstatat(dfd, entry.name.c_str(), &st, 0) != 0) continue;  // gone meanwhile
    entry.is_directory = S_ISDIR(st.st_mode);
    if (!entry.is_directory && !S_ISREG(st.st_mode)) continue;
    entry.size = entry.is_directory ? 0 : static_cast<std::uint64_t>(st.st_size);
    visit(entry);
  }
  ::closedir(dir);
  if (stamp) indices_[folder] = std::move(index);
  return true;
}

bool RealFileSystem::PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

const RealFileSystem::FolderIndex* RealFileSystem::IndexFor(const std::string& folder) {
  std::optional<Stamp> stamp = StampOf(folder);
  if (!stamp) return nullptr;
  auto it = indices_.find(folder);
  if (it != indices_.end() && it->second.stamp == *stamp) return &it->second;
  ForEachEntry(folder, "", [](const DirEntry&) {});  // an empty mask matches nothing but indexes all
  it = indices_.find(folder);
  return it == indices_.end() ? nullptr : &it->second;
}

std::optional<std::string> RealFileSystem::Resolve(const std::string& path, struct stat* st) {
  auto [folder, name] = SplitPath(path);
  if (name.empty() || name.front() == '.') return std::nullopt;
  if (IsOrdinaryFileAt(path, st)) return path;
  std::string lower = AsciiLower(name);
  if (lower != name) {
    std::string candidate = Join(folder, lower);
    if (IsOrdinaryFileAt(candidate, st)) return candidate;
  }
  const FolderIndex* index = IndexFor(folder);
  if (index == nullptr) return std::nullopt;
  auto [first, last] = index->capitalised.equal_range(lower);
  for (auto it = first; it != last; ++it) {
    if (it->second == name) continue;  // already tried
    std::string candidate = Join(folder, it->second);
    if (IsOrdinaryFileAt(candidate, st)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> RealFileSystem::FindFile(const std::string& path) {
  struct stat st {};
  return Resolve(path, &st);
}

std::optional<std::uint64_t> RealFileSystem::FileLength(const std::string& path) {
  struct stat st {};
  if (!Resolve(path, &st)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::unique_ptr<ReadStream> RealFileSystem::OpenRead(const std::string& path) {
  if (IsHiddenOrEmptyName(path)) return nullptr;
  // The exact name first: one open, no lookup, for the usual case of a path
  // that came from a listing.
  struct stat st {};
  int fd = OpenExisting(path, O_RDONLY, &st);
  if (fd < 0) {
    std::optional<std::string> actual = FindFile(path);
    if (actual && *actual != path) fd = OpenExisting(*actual, O_RDONLY, &st);
  }
  if (fd < 0) return nullptr;
  return std::make_unique<FdReadStream>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<FileHandle> RealFileSystem::OpenReadWrite(const std::string& path) {
  std::optional<std::string> actual = FindFile(path);
  if (!actual) return nullptr;
  int fd = OpenExisting(*actual, O_RDWR);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FdFileHandle>(fd);
}

bool RealFileSystem::IndexIsFresh(const std::string& folder) {
  auto it = indices_.find(folder);
  if (it == indices_.end()) return false;
  std::optional<Stamp> stamp = StampOf(folder);
  return stamp && it->second.stamp == *stamp;
}

void RealFileSystem::AfterOwnChange(const std::string& folder, bool was_fresh,
                                    const std::string* removed, const std::string* added) {
  auto it = indices_.find(folder);
  if (it == indices_.end()) return;
  std::optional<Stamp> stamp = StampOf(folder);
  if (!was_fresh || !stamp) {
    indices_.erase(it);
    return;
  }
  auto& names = it->second.capitalised;
  if (removed != nullptr && HasUpperAscii(*removed)) {
    auto [first, last] = names.equal_range(AsciiLower(*removed));
    for (auto n = first; n != last; ++n) {
      if (n->second == *removed) {
        names.erase(n);
        break;
      }
    }
  }
  if (added != nullptr && HasUpperAscii(*added)) names.emplace(AsciiLower(*added), *added);
  it->second.stamp = *stamp;
}

bool RealFileSystem::Remove(const std::string& path) {
  std::optional<std::string> actual = FindFile(path);
  if (!actual) return false;
  auto [folder, name] = SplitPath(*actual);
  bool fresh = IndexIsFresh(folder);
  bool ok = ::unlink(actual->c_str()) == 0;
  AfterOwnChange(folder, fresh && ok, &name, nullptr);
  return ok;
}

bool RealFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  std::optional<std::string> source = FindFile(from);
  if (!source) return false;
  if (FindFile(to)) return false;  // taken, perhaps in another letter case
  auto [to_folder, to_name] = SplitPath(to);
  if (to_name.empty() || to_name.front() == '.') return false;
  auto [from_folder, from_name] = SplitPath(*source);
  bool from_fresh = IndexIsFresh(from_folder);
  bool to_fresh = IndexIsFresh(to_folder);

  bool ok = ::renameat2(AT_FDCWD, source->c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
  if (!ok && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
    // File systems without the no-replace flag: a hard link cannot replace
    // either, and the source goes only once the link stands.
    ok = ::link(source->c_str(), to.c_str()) == 0;
    if (ok && ::unlink(source->c_str()) != 0) {
      ::unlink(to.c_str());
      ok = false;
    }
  }
  AfterOwnChange(from_folder, from_fresh && ok, &from_name, nullptr);
  AfterOwnChange(to_folder, to_fresh && ok, nullptr, &to_name);
  return ok;
}

std::string RealFileSystem::ProgramFolder() {
  char buffer[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return ".";
  std::string exe(buffer, static_cast<std::size_t>(n));
  return SplitPath(exe).first;
}

}  // namespace platform
