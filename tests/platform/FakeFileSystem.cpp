#include "tests/platform/FakeFileSystem.h"

#include <algorithm>
#include <cerrno>

#include "platform/Text.h"

namespace testing_host {

using platform::SplitPath;

class FakeReadStream : public platform::ReadStream {
 public:
  FakeReadStream(FakeFileSystem& fs, std::string path)
      : fs_(fs), path_(std::move(path)), size_(fs.nodes_[path_].bytes.size()) {}
  std::uint64_t Size() const override { return size_; }

  long long Read(char* buffer, std::size_t capacity) override {
    if (!fs_.Allow(Op::kRead, path_)) return -1;
    auto it = fs_.nodes_.find(path_);
    if (it == fs_.nodes_.end()) return 0;  // removed while open: reads as ended
    const std::string& bytes = it->second.bytes;
    if (offset_ >= bytes.size()) return 0;
    std::size_t n = std::min({capacity, fs_.read_chunk, bytes.size() - offset_});
    std::copy_n(bytes.data() + offset_, n, buffer);
    offset_ += n;
    return static_cast<long long>(n);
  }

 private:
  FakeFileSystem& fs_;
  std::string path_;
  std::uint64_t size_;
  std::size_t offset_ = 0;
};

class FakeFileHandle : public platform::FileHandle {
 public:
  FakeFileHandle(FakeFileSystem& fs, std::string path, std::uint64_t id) : fs_(fs), path_(std::move(path)), id_(id) {}

  std::optional<std::uint64_t> Size() override { return Bytes().size(); }
  bool ReadAll(std::string* out) override {
    out->clear();
    const std::string& bytes = Bytes();
    for (std::size_t offset = 0; offset < bytes.size(); offset += fs_.read_chunk) {
      if (!fs_.Allow(Op::kRead, path_)) return false;
      out->append(bytes, offset, fs_.read_chunk);
    }
    return true;
  }
  bool WriteAt(std::uint64_t offset, std::string_view bytes) override {
    return fs_.Allow(Op::kWriteAt, path_) && fs_.WriteBytes(Bytes(), offset, bytes);
  }
  bool Truncate(std::uint64_t length) override {
    if (!fs_.Allow(Op::kTruncate, path_)) return false;
    Bytes().resize(static_cast<std::size_t>(length), '\0');
    return true;
  }

 private:
  // The file's bytes wherever it is now; once removed, the bytes the handle
  // still holds (an open file outlives its name).
  std::string& Bytes() {
    FakeFileSystem::Node* node = fs_.NodeById(id_);
    return node != nullptr ? node->bytes : orphan_;
  }

  FakeFileSystem& fs_;
  std::string path_;
  std::uint64_t id_;
  std::string orphan_;
};

FakeFileSystem::Node* FakeFileSystem::NodeById(std::uint64_t id) {
  for (auto& [path, node] : nodes_) {
    if (!node.folder && node.id == id) return &node;
  }
  return nullptr;
}

std::unique_ptr<platform::FileHandle> FakeFileSystem::OpenReadWrite(const std::string& path) {
  std::optional<std::string> actual = Found(Op::kOpenRead, path);
  if (!actual || locked_.count(nodes_[*actual].id) != 0) return nullptr;
  return std::make_unique<FakeFileHandle>(*this, *actual, nodes_[*actual].id);
}

class FakeLock : public platform::MessageLock {
 public:
  FakeLock(std::set<std::uint64_t>& locked, std::uint64_t id) : locked_(locked), id_(id) { locked_.insert(id); }
  ~FakeLock() override { locked_.erase(id_); }

 private:
  std::set<std::uint64_t>& locked_;
  std::uint64_t id_;
};

platform::LockResult FakeFileSystem::LockMessage(const std::string& path, std::unique_ptr<platform::MessageLock>* lock) {
  if (!Allow(Op::kLock, path)) return platform::LockResult::kBusy;
  std::optional<std::string> actual = Lookup(path);
  if (!actual) return platform::LockResult::kMissing;
  std::uint64_t id = nodes_[*actual].id;
  if (locked_.count(id) != 0) return platform::LockResult::kBusy;
  *lock = std::make_unique<FakeLock>(locked_, id);
  return platform::LockResult::kHeld;
}

void FakeFileSystem::AddFolder(const std::string& path) {
  std::string parent = SplitPath(path).first;
  if (!parent.empty() && !HasFolder(parent)) AddFolder(parent);
  nodes_[path] = Node{true, {}};
}

void FakeFileSystem::AddFile(const std::string& path, std::string bytes) {
  AddFolder(path);  // its parents; the node itself then becomes the file
  nodes_[path] = Node{false, std::move(bytes), next_id_++};
}

void FakeFileSystem::RemoveTree(const std::string& path) {
  std::string prefix = path + platform::kPathSeparator;
  std::erase_if(nodes_, [&](const auto& node) { return node.first == path || node.first.starts_with(prefix); });
}

std::map<std::string, std::string> FakeFileSystem::Files() const {
  std::map<std::string, std::string> files;
  for (const auto& [path, node] : nodes_) {
    if (!node.folder) files[path] = node.bytes;
  }
  return files;
}

// One folder of the fake, for the shared letter-case rules: an exact name is
// looked up in the map, other letter cases by a walk over the tree.
class FakeFolder : public platform::NameIndex {
 public:
  FakeFolder(const FakeFileSystem& fs, std::string folder) : fs_(fs), folder_(std::move(folder)) {}
  Kind KindOf(const std::string& name) override {
    std::string path = platform::JoinPath(folder_, name);
    return fs_.HasFile(path) ? Kind::kFile : fs_.HasFolder(path) ? Kind::kOther : Kind::kNone;
  }
  std::vector<std::string> FilesLike(const std::string& name) override { return Like(name, true); }
  std::vector<std::string> Like(const std::string& name, bool files_only) const {
    std::vector<std::string> like;
    for (const auto& [path, node] : fs_.nodes_) {
      auto [parent, other] = SplitPath(path);
      if (parent == folder_ && (!files_only || !node.folder) && platform::EqualsIgnoreCase(other, name)) {
        like.push_back(other);
      }
    }
    return like;
  }

 private:
  const FakeFileSystem& fs_;
  std::string folder_;
};

bool FakeFileSystem::ReadFolder(const std::string& folder, platform::FolderListing* listing) {
  listing->Clear();
  if (!Allow(Op::kList, folder) || !HasFolder(folder)) return false;
  for (const auto& [path, node] : nodes_) {
    auto [parent, name] = SplitPath(path);
    if (!path.empty() && parent == folder && !name.empty() && name.front() != '.') listing->Add({name, node.folder});
  }
  return true;
}

bool FakeFileSystem::PathExists(const std::string& path) { return nodes_.contains(path); }

std::optional<std::string> FakeFileSystem::Lookup(const std::string& path, bool companion) const {
  auto [folder, name] = SplitPath(path);
  FakeFolder view(*this, folder);
  std::optional<std::string> actual = companion ? ResolveCompanion(view, name) : ResolveName(view, name);
  return actual ? std::optional(platform::JoinPath(folder, *actual)) : std::nullopt;
}

std::optional<std::string> FakeFileSystem::Found(Op op, const std::string& path, bool companion) {
  return Allow(op, path) ? Lookup(path, companion) : std::nullopt;
}

std::optional<std::string> FakeFileSystem::FindFile(const std::string& path) { return Found(Op::kFind, path); }

std::optional<std::string> FakeFileSystem::FindCompanion(const std::string& q0_path) {
  return Found(Op::kFind, q0_path, true);
}

bool FakeFileSystem::Taken(const std::string& path) const {
  auto [folder, name] = SplitPath(path);
  return !FakeFolder(*this, folder).Like(name, false).empty();
}

// A refused look counts as taken: nothing is risked.
bool FakeFileSystem::NameTaken(const std::string& path) { return !Allow(Op::kFind, path) || Taken(path); }

std::unique_ptr<platform::ReadStream> FakeFileSystem::OpenSettingsFile(const std::string& path,
                                                                      platform::FileKind* kind) {
  using platform::FileKind;
  *kind = HasFolder(path) ? FileKind::kFolder : Lookup(path) ? FileKind::kFile : FileKind::kMissing;
  return *kind == FileKind::kFile ? OpenRead(path) : nullptr;
}

std::optional<std::uint64_t> FakeFileSystem::FileLength(const std::string& path) {
  std::optional<std::string> actual = Found(Op::kLength, path);
  return actual ? std::optional<std::uint64_t>(nodes_[*actual].bytes.size()) : std::nullopt;
}

std::unique_ptr<platform::ReadStream> FakeFileSystem::OpenRead(const std::string& path) {
  bool allowed = Allow(Op::kOpenRead, path);
  std::optional<std::string> actual = allowed ? Lookup(path) : std::nullopt;
  if (!actual) errno = allowed ? ENOENT : EACCES;  // as the real host leaves it
  return actual ? std::make_unique<FakeReadStream>(*this, *actual) : nullptr;
}

bool FakeFileSystem::WriteBytes(std::string& file, std::uint64_t offset, std::string_view bytes) {
  std::size_t at = static_cast<std::size_t>(offset), end = at + bytes.size();
  std::size_t growth = end > file.size() ? end - file.size() : 0;
  // Past the free space only the bytes that fit are written (disk full).
  std::size_t cut = free_bytes && growth > *free_bytes ? std::min(bytes.size(), growth - *free_bytes) : 0;
  if (free_bytes) *free_bytes -= std::min(*free_bytes, growth);
  if (file.size() < end - cut) file.resize(end - cut, '\0');
  file.replace(at, bytes.size() - cut, bytes.substr(0, bytes.size() - cut));
  return cut == 0;
}

bool FakeFileSystem::Remove(const std::string& path) {
  std::optional<std::string> actual = Found(Op::kRemove, path);
  return actual && nodes_.erase(*actual) == 1;
}

bool FakeFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  std::optional<std::string> source = Found(Op::kRename, from);
  auto [folder, name] = SplitPath(to);
  if (!source || Taken(to) || name.empty() || name.front() == '.' || !HasFolder(folder)) return false;
  Node node = std::move(nodes_[*source]);
  nodes_.erase(*source);
  nodes_[to] = std::move(node);
  return true;
}

}  // namespace testing_host
