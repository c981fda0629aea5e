// The reading side of the real host: folder listings and the letter-case
// index, finding a file in any letter case, opening files to read.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/RealFileSystem.h"
#include "platform/RealFileSystemCommon.h"
#include "platform/Text.h"

namespace platform {
namespace {

using real_host::FolderForOpen;
using real_host::Join;
using real_host::OpenOrdinary;
using real_host::StatNoFollow;

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

FileKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kFile;
  if (S_ISDIR(mode)) return FileKind::kFolder;
  if (S_ISFIFO(mode)) return FileKind::kFifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::kDevice;
  return FileKind::kOther;
}

bool IsHiddenOrEmptyName(const std::string& path) {
  std::size_t cut = path.rfind(kPathSeparator);
  std::size_t start = cut == std::string::npos ? 0 : cut + 1;
  return start >= path.size() || path[start] == '.';
}

}  // namespace

std::optional<RealFileSystem::Stamp> RealFileSystem::StampOf(const std::string& folder) {
  struct stat st {};
  if (::stat(FolderForOpen(folder).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return Stamp{st.st_dev, st.st_ino, st.st_mtim};
}

bool RealFileSystem::ReadAndIndex(const std::string& folder, FolderListing* listing, FolderIndex* read) {
  std::uint64_t changes_before = 0;
  {
    std::lock_guard<std::mutex> lock(index_mutex_);
    changes_before = own_changes_[folder];
  }
  std::optional<Stamp> stamp = StampOf(folder);
  DIR* dir = ::opendir(FolderForOpen(folder).c_str());
  if (dir == nullptr) return false;
  // The whole folder is read anyway, so the letter-case index comes for free.
  FolderIndex index;
  if (stamp) index.stamp = *stamp;
  int dfd = ::dirfd(dir);
  while (struct dirent* d = ::readdir(dir)) {
    if (d->d_name[0] == '\0') continue;
    std::string name = d->d_name;
    if (name.front() == '.') {
      if (listing != nullptr && name.starts_with(kHiddenPrefix)) listing->AddLeftover(std::move(name));
      continue;
    }
    if (HasUpperAscii(name)) index.capitalised.emplace(AsciiLower(name), name);
    if (listing == nullptr) continue;
    // The folder read tells each entry's type; only a file system that does
    // not (DT_UNKNOWN) costs a status call. Links are never followed.
    unsigned char type = d->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      if (::fstatat(dfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : DT_LNK;
    }
    if (type != DT_REG && type != DT_DIR) continue;  // links, FIFOs, sockets, devices
    listing->Add({std::move(name), type == DT_DIR});
  }
  ::closedir(dir);
  if (read != nullptr) *read = index;
  // A change of ours during the read may share the folder's time stamp with
  // it (the stamp's clock is coarse), so such a read could pass for fresh.
  std::lock_guard<std::mutex> lock(index_mutex_);
  if (stamp && own_changes_[folder] == changes_before) indices_[folder] = std::move(index);
  return true;
}

bool RealFileSystem::ReadFolder(const std::string& folder, FolderListing* listing) {
  listing->Clear();
  return ReadAndIndex(folder, listing);
}

bool RealFileSystem::PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> RealFileSystem::CapitalisedLike(const std::string& folder, const std::string& lower) {
  auto names_like = [&lower](const FolderIndex& index) {
    std::vector<std::string> names;
    auto [first, last] = index.capitalised.equal_range(lower);
    for (auto n = first; n != last; ++n) names.push_back(n->second);
    return names;
  };
  std::optional<Stamp> stamp = StampOf(folder);
  if (!stamp) return {};
  {
    std::lock_guard<std::mutex> lock(index_mutex_);
    auto it = indices_.find(folder);
    if (it != indices_.end() && it->second.stamp == *stamp) return names_like(it->second);
  }
  FolderIndex read;
  if (!ReadAndIndex(folder, nullptr, &read)) return {};
  return names_like(read);
}

std::optional<std::string> RealFileSystem::FindFile(const std::string& path) {
  auto [folder, name] = SplitPath(path);
  LiveFolder live(*this, folder);
  std::optional<std::string> actual = ResolveName(live, name);
  if (!actual) return std::nullopt;
  return Join(folder, *actual);
}

std::optional<std::string> RealFileSystem::FindCompanion(const std::string& q0_path) {
  auto [folder, name] = SplitPath(q0_path);
  LiveFolder live(*this, folder);
  std::optional<std::string> actual = ResolveCompanion(live, name);
  if (!actual) return std::nullopt;
  return Join(folder, *actual);
}

bool RealFileSystem::NameTaken(const std::string& path) {
  struct stat st {};
  if (StatNoFollow(path, &st)) return true;
  auto [folder, name] = SplitPath(path);
  return !LiveFolder(*this, folder).AnyLike(name).empty();
}

std::optional<std::uint64_t> RealFileSystem::FileLength(const std::string& path) {
  if (IsHiddenOrEmptyName(path)) return std::nullopt;
  // One status call for the usual exact name; another letter case only
  // when nothing at all has this one.
  struct stat st {};
  if (!StatNoFollow(path, &st)) {
    if (errno != ENOENT) return std::nullopt;
    std::optional<std::string> actual = FindFile(path);
    if (!actual || !StatNoFollow(*actual, &st)) return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

int RealFileSystem::OpenMessageFile(const std::string& path, int flags, struct stat* st, std::string* actual) {
  if (IsHiddenOrEmptyName(path)) return -1;
  // The exact name first: one open, no lookup, for the usual case of a path
  // that came from a listing. Only when nothing at all has that name is
  // another letter case looked for.
  int fd = OpenOrdinary(path, flags, st);
  if (actual != nullptr) *actual = path;
  if (fd >= 0 || errno != ENOENT) return fd;
  std::optional<std::string> other = FindFile(path);
  if (!other || *other == path) return -1;
  if (actual != nullptr) *actual = *other;
  return OpenOrdinary(*other, flags, st);
}

std::unique_ptr<ReadStream> RealFileSystem::OpenRead(const std::string& path) {
  struct stat st {};
  int fd = OpenMessageFile(path, O_RDONLY, &st);
  if (fd < 0) return nullptr;
  return std::make_unique<FdReadStream>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<ReadStream> RealFileSystem::OpenSettingsFile(const std::string& path, FileKind* kind) {
  // What stands there, links followed, before anything is opened: a FIFO or
  // device is reported, never opened.
  struct stat st {};
  std::string actual = path;
  if (::stat(path.c_str(), &st) != 0) {
    int error = errno;
    std::optional<std::string> other = error == ENOENT ? FindFile(path) : std::nullopt;
    if (!other || ::stat(other->c_str(), &st) != 0) {
      *kind = error == ENOENT ? FileKind::kMissing : FileKind::kFile;
      errno = error;
      return nullptr;
    }
    actual = *other;
  }
  *kind = KindOfMode(st.st_mode);
  if (*kind != FileKind::kFile) return nullptr;
  int fd = ::open(actual.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // replaced meanwhile
    *kind = KindOfMode(st.st_mode);
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FdReadStream>(fd, static_cast<std::uint64_t>(st.st_size));
}

bool RealFileSystem::HasIndex(const std::string& folder) {
  std::lock_guard<std::mutex> lock(index_mutex_);
  return indices_.contains(folder);
}

bool RealFileSystem::IndexIsFresh(const std::string& folder) {
  if (!HasIndex(folder)) return false;
  std::optional<Stamp> stamp = StampOf(folder);
  std::lock_guard<std::mutex> lock(index_mutex_);
  auto it = indices_.find(folder);
  return it != indices_.end() && stamp && it->second.stamp == *stamp;
}

void RealFileSystem::AfterOwnChange(const std::string& folder, bool was_fresh,
                                    const std::string* removed, const std::string* added) {
  {
    std::lock_guard<std::mutex> lock(index_mutex_);
    ++own_changes_[folder];
    if (!indices_.contains(folder)) return;
  }
  std::optional<Stamp> stamp = StampOf(folder);
  std::lock_guard<std::mutex> lock(index_mutex_);
  auto it = indices_.find(folder);
  if (it == indices_.end()) return;
  if (!was_fresh || !stamp) {
    indices_.erase(it);
    return;
  }
  // A reading thread may have indexed the folder anew between the change
  // and this update, with or without the change in it: the update holds
  // either way, and never lists a name twice (which would make it ambiguous).
  auto& names = it->second.capitalised;
  auto find = [&names](const std::string& name) {
    auto [first, last] = names.equal_range(AsciiLower(name));
    for (auto n = first; n != last; ++n) {
      if (n->second == name) return n;
    }
    return names.end();
  };
  if (removed != nullptr && HasUpperAscii(*removed)) {
    if (auto n = find(*removed); n != names.end()) names.erase(n);
  }
  if (added != nullptr && HasUpperAscii(*added) && find(*added) == names.end()) {
    names.emplace(AsciiLower(*added), *added);
  }
  it->second.stamp = *stamp;
}

std::optional<FileIdentity> RealFileSystem::IdentityOf(const std::string& path) {
  struct stat st {};
  if (!StatNoFollow(path, &st) || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                      static_cast<std::uint64_t>(st.st_nlink)};
}

std::string RealFileSystem::ProgramFolder() {
  char buffer[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return ".";
  std::string exe(buffer, static_cast<std::size_t>(n));
  return SplitPath(exe).first;
}

}  // namespace platform
