#include "tests/platform/FakeFileSystem.h"

#include <algorithm>
#include <cerrno>

#include "platform/Text.h"

namespace testing_host {

using platform::SplitPath;

class FakeReadStream : public platform::ReadStream {
 public:
  FakeReadStream(FakeFileSystem& fs, std::string path, std::uint64_t id)
      : fs_(fs), path_(std::move(path)), id_(id), size_(fs.Bytes(id).size()) {}
  std::uint64_t Size() const override { return size_; }

  long long Read(char* buffer, std::size_t capacity) override {
    if (!fs_.Allow(Op::kRead, path_)) return -1;
    if (!fs_.contents_.contains(id_)) return 0;  // removed while open: reads as ended
    const std::string& bytes = fs_.Bytes(id_);
    if (offset_ >= bytes.size()) return 0;
    std::size_t n = std::min({capacity, fs_.read_chunk, bytes.size() - offset_});
    std::copy_n(bytes.data() + offset_, n, buffer);
    offset_ += n;
    return static_cast<long long>(n);
  }

 private:
  FakeFileSystem& fs_;
  std::string path_;
  std::uint64_t id_;
  std::uint64_t size_;
  std::size_t offset_ = 0;
};

class FakeLock : public platform::MessageLock {
 public:
  FakeLock(std::set<std::uint64_t>& locked, std::uint64_t id) : locked_(locked), id_(id) { locked_.insert(id); }
  ~FakeLock() override { locked_.erase(id_); }

 private:
  std::set<std::uint64_t>& locked_;
  std::uint64_t id_;
};

class FakeTempFile : public platform::TempFile {
 public:
  FakeTempFile(FakeFileSystem& fs, std::string path, std::uint64_t id)
      : fs_(fs), path_(std::move(path)), id_(id), lock_(fs.locked_, id) {}
  ~FakeTempFile() override {
    if (!replaced_ && fs_.HasFile(path_) && fs_.AllowChange(Op::kRemove, path_)) fs_.Unlink(path_);
  }
  bool Write(std::string_view bytes) override {
    if (!fs_.AllowChange(Op::kWriteAt, path_) || !fs_.contents_.contains(id_)) return false;
    std::string& file = fs_.Bytes(id_);
    return fs_.WriteBytes(file, file.size(), bytes);
  }

  FakeFileSystem& fs_;
  std::string path_;
  std::uint64_t id_;
  FakeLock lock_;
  bool replaced_ = false;
};

class FakeFileHandle : public platform::FileHandle {
 public:
  FakeFileHandle(FakeFileSystem& fs, std::string path, std::uint64_t id) : fs_(fs), path_(std::move(path)), id_(id) {}

  bool ReadAll(std::string* out) override {
    out->clear();
    const std::string& bytes = fs_.Bytes(id_);
    for (std::size_t offset = 0; offset < bytes.size(); offset += fs_.read_chunk) {
      if (!fs_.Allow(Op::kRead, path_)) return false;
      out->append(bytes, offset, fs_.read_chunk);
    }
    version_ = fs_.contents_[id_].version;
    return true;
  }
  std::unique_ptr<platform::TempFile> NewVersion() override {
    std::string path = platform::JoinPath(SplitPath(path_).first, std::string(platform::kHiddenPrefix) + "new." +
                                                                      std::to_string(fs_.next_id_));
    if (!fs_.AllowChange(Op::kCreate, path)) return nullptr;
    fs_.AddFile(path, "");
    fs_.Changed(path);
    return std::make_unique<FakeTempFile>(fs_, path, fs_.nodes_[path].id);
  }
  bool Replace(platform::TempFile& version) override {
    auto& temp = static_cast<FakeTempFile&>(version);
    if (!version_ || !fs_.AllowChange(Op::kReplace, path_)) return false;
    auto it = fs_.nodes_.find(path_);
    if (it == fs_.nodes_.end() || it->second.id != id_ || fs_.Links(path_) != 1 ||
        fs_.contents_[id_].version != *version_ || !fs_.nodes_.contains(temp.path_)) {
      return false;
    }
    fs_.Unlink(path_);
    fs_.Move(temp.path_, path_);
    temp.replaced_ = true;
    return true;
  }

 private:
  FakeFileSystem& fs_;
  std::string path_;
  std::uint64_t id_;
  std::optional<std::uint64_t> version_;
};

bool FakeFileSystem::AllowChange(Op op, const std::string& path) {
  if (dead_) return false;
  if (stop_before_ && ++changes_ >= *stop_before_) {
    dead_ = true;
    return false;
  }
  if (!stop_before_) ++changes_;
  return Allow(op, path);
}

std::string FakeFileSystem::Contents(const std::string& path) const {
  return HasFile(path) ? contents_.at(nodes_.at(path).id).bytes : "";
}

std::size_t FakeFileSystem::Links(const std::string& path) const {
  if (!HasFile(path)) return 0;
  std::uint64_t id = nodes_.at(path).id;
  return static_cast<std::size_t>(
      std::count_if(nodes_.begin(), nodes_.end(), [&](const auto& n) { return !n.second.folder && n.second.id == id; }));
}

void FakeFileSystem::Move(const std::string& from, const std::string& to) {
  Node node = nodes_[from];
  nodes_.erase(from);
  nodes_[to] = node;
  Changed(from), Changed(to);
}

void FakeFileSystem::Unlink(const std::string& path) {
  std::uint64_t id = nodes_[path].id;
  nodes_.erase(path);
  Changed(path);
  bool named = std::any_of(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.second.id == id; });
  if (!named) contents_.erase(id);  // open handles keep reading what they hold
}

std::unique_ptr<platform::FileHandle> FakeFileSystem::OpenReadWrite(const std::string& path) {
  std::optional<std::string> actual = Found(Op::kOpenRead, path);
  if (!actual || locked_.count(nodes_[*actual].id) != 0 || Links(*actual) != 1) return nullptr;
  return std::make_unique<FakeFileHandle>(*this, *actual, nodes_[*actual].id);
}

platform::LockResult FakeFileSystem::LockMessage(const std::string& path, std::unique_ptr<platform::MessageLock>* lock) {
  if (!Allow(Op::kLock, path)) return platform::LockResult::kBusy;
  std::optional<std::string> actual = Lookup(path);
  if (!actual) return platform::LockResult::kMissing;
  std::uint64_t id = nodes_[*actual].id;
  if (locked_.count(id) != 0) return platform::LockResult::kBusy;
  *lock = std::make_unique<FakeLock>(locked_, id);
  return platform::LockResult::kHeld;
}

platform::LockResult FakeFileSystem::LockExact(const std::string& path, std::unique_ptr<platform::MessageLock>* lock) {
  if (!Allow(Op::kLock, path)) return platform::LockResult::kBusy;
  if (!HasFile(path)) return platform::LockResult::kMissing;
  std::uint64_t id = nodes_[path].id;
  if (locked_.count(id) != 0) return platform::LockResult::kBusy;
  *lock = std::make_unique<FakeLock>(locked_, id);
  return platform::LockResult::kHeld;
}

void FakeFileSystem::AddFolder(const std::string& path) {
  std::string parent = SplitPath(path).first;
  if (!parent.empty() && !HasFolder(parent)) AddFolder(parent);
  nodes_[path] = Node{true, 0};
}

void FakeFileSystem::AddFile(const std::string& path, std::string bytes) {
  if (HasFile(path)) {  // written over in place, as the same file
    Content& content = contents_[nodes_[path].id];
    content = Content{std::move(bytes), content.version + 1};
    return;
  }
  AddFolder(path);  // its parents; the node itself then becomes the file
  std::uint64_t id = next_id_++;
  nodes_[path] = Node{false, id};
  contents_[id] = Content{std::move(bytes), 1};
}

void FakeFileSystem::AddLink(const std::string& existing, const std::string& path) { nodes_[path] = nodes_.at(existing); }

void FakeFileSystem::RemoveTree(const std::string& path) {
  std::string prefix = path + platform::kPathSeparator;
  std::erase_if(nodes_, [&](const auto& node) { return node.first == path || node.first.starts_with(prefix); });
}

std::map<std::string, std::string> FakeFileSystem::Files() const {
  std::map<std::string, std::string> files;
  for (const auto& [path, node] : nodes_) {
    if (!node.folder) files[path] = contents_.at(node.id).bytes;
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
    if (path.empty() || parent != folder || name.empty()) continue;
    if (name.front() != '.') {
      listing->Add({name, node.folder});
    } else if (name.starts_with(platform::kHiddenPrefix)) {
      listing->AddLeftover(name);
    }
  }
  return true;
}

bool FakeFileSystem::PathExists(const std::string& path) { return !dead_ && nodes_.contains(path); }

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
  return actual ? std::optional<std::uint64_t>(Bytes(nodes_[*actual].id).size()) : std::nullopt;
}

std::unique_ptr<platform::ReadStream> FakeFileSystem::OpenRead(const std::string& path) {
  bool allowed = Allow(Op::kOpenRead, path);
  std::optional<std::string> actual = allowed ? Lookup(path) : std::nullopt;
  if (!actual) errno = allowed ? ENOENT : EACCES;  // as the real host leaves it
  return actual ? std::make_unique<FakeReadStream>(*this, *actual, nodes_[*actual].id) : nullptr;
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
  if (!AllowChange(Op::kRemove, path)) return false;
  std::optional<std::string> actual = Lookup(path);
  if (!actual) return false;
  Unlink(*actual);
  return true;
}

bool FakeFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  if (!AllowChange(Op::kRename, from)) return false;
  std::optional<std::string> source = Lookup(from);
  auto [folder, name] = SplitPath(to);
  if (!source || Taken(to) || name.empty() || name.front() == '.' || !HasFolder(folder)) return false;
  Move(*source, to);
  return true;
}

std::unique_ptr<platform::TargetFolder> FakeFileSystem::OpenTargetFolder(const std::string& path) {
  if (!Allow(Op::kFind, path) || !HasFolder(path)) return nullptr;
  return std::make_unique<platform::TargetFolder>(path);
}

bool FakeFileSystem::NameTakenIn(platform::TargetFolder& folder, const std::string& name) {
  return NameTaken(platform::JoinPath(folder.path(), name));
}

platform::LinkResult FakeFileSystem::LinkInto(const std::string& from, platform::TargetFolder& folder,
                                              const std::string& name) {
  using platform::LinkResult;
  if (!hard_links) return LinkResult::kUnsupported;
  if (!AllowChange(Op::kLink, from)) return LinkResult::kFailed;
  std::optional<std::string> source = Lookup(from);
  std::string to = platform::JoinPath(folder.path(), name);
  if (!source || Taken(to) || name.empty() || name.front() == '.' || !HasFolder(folder.path())) {
    return LinkResult::kFailed;
  }
  nodes_[to] = nodes_[*source];
  Changed(to);
  return LinkResult::kLinked;
}

bool FakeFileSystem::RenameInto(const std::string& from, platform::TargetFolder& folder, const std::string& name) {
  return RenameNoReplace(from, platform::JoinPath(folder.path(), name));
}

bool FakeFileSystem::RemoveFrom(platform::TargetFolder& folder, const std::string& name) {
  return RemoveExact(platform::JoinPath(folder.path(), name));
}

std::optional<platform::FileIdentity> FakeFileSystem::IdentityOf(const std::string& path) {
  if (!Allow(Op::kFind, path) || !HasFile(path)) return std::nullopt;
  return platform::FileIdentity{1, nodes_[path].id, Links(path)};
}

bool FakeFileSystem::RenameExact(const std::string& from, const std::string& to) {
  auto [from_folder, from_name] = SplitPath(from);
  auto [to_folder, to_name] = SplitPath(to);
  if (!AllowChange(Op::kRename, from)) return false;
  if (from_folder != to_folder || to_name.empty() || !HasFile(from) || nodes_.contains(to)) return false;
  if (to_name.front() != '.' && Taken(to)) return false;
  Move(from, to);
  return true;
}

bool FakeFileSystem::RemoveExact(const std::string& path) {
  if (!AllowChange(Op::kRemove, path) || !HasFile(path)) return false;
  Unlink(path);
  return true;
}

std::optional<std::string> FakeFileSystem::WhyFolderUnchangeable(const std::string& folder) {
  if (!HasFolder(folder) || !unchangeable.contains(folder)) return std::nullopt;
  return std::string("may not change files in it");
}

bool FakeFileSystem::SyncChangedFolders() {
  if (dead_) return false;
  synced_.insert(changed_.begin(), changed_.end());
  changed_.clear();
  return true;
}

}  // namespace testing_host
