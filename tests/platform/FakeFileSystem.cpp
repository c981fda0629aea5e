#include "tests/platform/FakeFileSystem.h"

#include <algorithm>
#include <cerrno>

namespace testing_host {

using platform::JoinPath;
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
  std::uint64_t id_, size_;
  std::size_t offset_ = 0;
};

// Holds a file's identity in the set of locked files while it lives.
struct FakeLock : platform::MessageLock {
  FakeLock(std::set<std::uint64_t>& locked, std::uint64_t id) : locked_(locked), id_(id) { locked_.insert(id); }
  ~FakeLock() override { locked_.erase(id_); }
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
    return fs_.AllowChange(Op::kWriteAt, path_) && fs_.contents_.contains(id_) && fs_.WriteBytes(id_, bytes);
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
    std::string path = JoinPath(SplitPath(path_).first, std::string(platform::kHiddenPrefix) + "new." +
                                                            std::to_string(fs_.next_id_));
    if (!fs_.AllowChange(Op::kCreate, path)) return nullptr;
    fs_.AddFile(path, "");
    fs_.Changed(path);
    return std::make_unique<FakeTempFile>(fs_, path, fs_.nodes_[path].id);
  }
  // Only while the name holds the very file read, with one link, unchanged.
  bool Replace(platform::TempFile& version) override {
    auto& temp = static_cast<FakeTempFile&>(version);
    if (!version_ || !fs_.AllowChange(Op::kReplace, path_) || !fs_.HasFile(path_) || fs_.nodes_[path_].id != id_ ||
        fs_.Links(path_) != 1 || fs_.contents_[id_].version != *version_ || !fs_.nodes_.contains(temp.path_)) {
      return false;
    }
    fs_.Unlink(path_);
    fs_.Move(temp.path_, path_);
    return temp.replaced_ = true;
  }

 private:
  FakeFileSystem& fs_;
  std::string path_;
  std::uint64_t id_;
  std::optional<std::uint64_t> version_;
};

bool FakeFileSystem::AllowChange(Op op, const std::string& path) {
  if (dead_) return false;
  ++changes_;
  if (stop_before_ && changes_ >= *stop_before_) dead_ = true;
  return !dead_ && Allow(op, path);
}

std::size_t FakeFileSystem::Links(const std::string& path) const {
  auto same = [&](const auto& n) { return !n.second.folder && n.second.id == nodes_.at(path).id; };
  return HasFile(path) ? static_cast<std::size_t>(std::count_if(nodes_.begin(), nodes_.end(), same)) : 0;
}

void FakeFileSystem::Move(const std::string& from, const std::string& to) {
  nodes_[to] = nodes_[from];
  nodes_.erase(from);
  Changed(from), Changed(to);
}

void FakeFileSystem::Unlink(const std::string& path) {
  std::uint64_t id = nodes_[path].id;
  nodes_.erase(path);
  Changed(path);
  bool named = std::any_of(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.second.id == id; });
  if (!named) contents_.erase(id);  // open handles keep reading what they hold
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
  nodes_[path] = Node{false, next_id_};
  contents_[next_id_++] = Content{std::move(bytes), 1};
}

void FakeFileSystem::RemoveTree(const std::string& path) {
  std::string prefix = path + platform::kPathSeparator;
  std::erase_if(nodes_, [&](const auto& node) { return node.first == path || node.first.starts_with(prefix); });
}

std::map<std::string, std::string> FakeFileSystem::Files() const {
  std::map<std::string, std::string> files;
  for (const auto& [path, node] : nodes_) if (!node.folder) files[path] = contents_.at(node.id).bytes;
  return files;
}

std::vector<std::string> FakeFileSystem::Like(const std::string& folder, const std::string& name,
                                              bool files_only) const {
  std::vector<std::string> like;
  for (const auto& [path, node] : nodes_) {
    auto [parent, other] = SplitPath(path);
    if (parent == folder && (!files_only || !node.folder) && platform::EqualsIgnoreCase(other, name)) {
      like.push_back(other);
    }
  }
  return like;
}

std::optional<std::string> FakeFileSystem::Lookup(const std::string& path, bool companion) const {
  // One folder for the shared letter-case rules.
  struct View : platform::NameIndex {
    const FakeFileSystem& fs;
    std::string folder;
    View(const FakeFileSystem& f, std::string d) : fs(f), folder(std::move(d)) {}
    Kind KindOf(const std::string& name) override {
      std::string path = JoinPath(folder, name);
      return fs.HasFile(path) ? Kind::kFile : fs.HasFolder(path) ? Kind::kOther : Kind::kNone;
    }
    std::vector<std::string> FilesLike(const std::string& name) override { return fs.Like(folder, name, true); }
  };
  auto [folder, name] = SplitPath(path);
  View view(*this, folder);
  std::optional<std::string> actual = companion ? ResolveCompanion(view, name) : ResolveName(view, name);
  return actual ? std::optional(JoinPath(folder, *actual)) : std::nullopt;
}

bool FakeFileSystem::Taken(const std::string& path) const {
  auto [folder, name] = SplitPath(path);
  return !Like(folder, name, false).empty();
}

bool FakeFileSystem::Free(const std::string& to) const {
  auto [folder, name] = SplitPath(to);
  return !Taken(to) && !name.empty() && name.front() != '.' && HasFolder(folder);
}

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

std::unique_ptr<platform::FileHandle> FakeFileSystem::OpenReadWrite(const std::string& path) {
  std::optional<std::string> actual = Found(Op::kOpenRead, path);
  if (!actual || locked_.contains(nodes_[*actual].id) || Links(*actual) != 1) return nullptr;
  return std::make_unique<FakeFileHandle>(*this, *actual, nodes_[*actual].id);
}

platform::LockResult FakeFileSystem::Lock(const std::string& path, bool exact,
                                          std::unique_ptr<platform::MessageLock>* lock) {
  using platform::LockResult;
  if (!Allow(Op::kLock, path)) return LockResult::kBusy;
  std::optional<std::string> actual = exact ? (HasFile(path) ? std::optional(path) : std::nullopt) : Lookup(path);
  if (!actual) return LockResult::kMissing;
  std::uint64_t id = nodes_[*actual].id;
  if (locked_.contains(id)) return LockResult::kBusy;
  *lock = std::make_unique<FakeLock>(locked_, id);
  return LockResult::kHeld;
}

bool FakeFileSystem::WriteBytes(std::uint64_t id, std::string_view bytes) {
  // Past the free space only the bytes that fit are written (disk full).
  std::size_t fit = std::min(bytes.size(), free_bytes.value_or(bytes.size()));
  if (free_bytes) *free_bytes -= fit;
  Bytes(id).append(bytes.substr(0, fit));
  return fit == bytes.size();
}

bool FakeFileSystem::Remove(const std::string& path) {
  if (!AllowChange(Op::kRemove, path)) return false;
  std::optional<std::string> actual = Lookup(path);
  if (actual) Unlink(*actual);
  return actual.has_value();
}

bool FakeFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  if (!AllowChange(Op::kRename, from)) return false;
  std::optional<std::string> source = Lookup(from);
  if (!source || !Free(to)) return false;
  Move(*source, to);
  return true;
}

std::unique_ptr<platform::TargetFolder> FakeFileSystem::OpenTargetFolder(const std::string& path) {
  if (!Allow(Op::kFind, path) || !HasFolder(path)) return nullptr;
  return std::make_unique<platform::TargetFolder>(path);
}

platform::LinkResult FakeFileSystem::LinkInto(const std::string& from, platform::TargetFolder& folder,
                                              const std::string& name) {
  using platform::LinkResult;
  if (name.empty() || name.front() == '.') return LinkResult::kFailed;
  if (!hard_links) return LinkResult::kUnsupported;
  if (!AllowChange(Op::kLink, from)) return LinkResult::kFailed;
  std::optional<std::string> source = Lookup(from);
  std::string to = JoinPath(folder.path(), name);
  if (!source || !Free(to)) return LinkResult::kFailed;
  AddLink(*source, to);
  Changed(to);
  return LinkResult::kLinked;
}

std::optional<platform::FileIdentity> FakeFileSystem::IdentityOf(const std::string& path) {
  if (!Allow(Op::kFind, path) || !HasFile(path)) return std::nullopt;
  return platform::FileIdentity{1, nodes_[path].id, Links(path)};
}

bool FakeFileSystem::RenameExact(const std::string& from, const std::string& to) {
  auto [folder, name] = SplitPath(to);
  if (!AllowChange(Op::kRename, from) || folder != SplitPath(from).first || name.empty() || !HasFile(from) ||
      nodes_.contains(to) || (name.front() != '.' && Taken(to))) {
    return false;
  }
  Move(from, to);
  return true;
}

bool FakeFileSystem::RemoveExact(const std::string& path) {
  if (!AllowChange(Op::kRemove, path) || !HasFile(path)) return false;
  Unlink(path);
  return true;
}

}  // namespace testing_host
