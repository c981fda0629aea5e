// An in-memory host for tests. Files and folders live in a map keyed by their
// exact path; lookups ignore letter case like the real host. A file's bytes
// belong to its identity, so two names can share them (hard links). A hook
// runs before every operation and can deny it or change the tree first,
// which is how tests make a file vanish, an open fail or a target name get
// taken at the worst moment. The host can also die before its N-th change
// to the tree: from then on every operation fails, as if the process had
// been killed there, until Revive. While it lives it is the process's host.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace testing_host {

enum class Op { kList, kFind, kLength, kOpenRead, kRead, kWriteAt, kCreate, kReplace, kRemove, kRename, kLink, kLock };

class FakeFileSystem : public platform::FileSystem {
 public:
  FakeFileSystem() { nodes_[""].folder = true; }  // the root folder

  // Tree set-up and inspection, by exact paths.
  void AddFolder(const std::string& path);  // parents too
  void AddFile(const std::string& path, std::string bytes);  // over an existing file: its bytes
  void AddLink(const std::string& existing, const std::string& path) { nodes_[path] = nodes_.at(existing); }
  bool HasFile(const std::string& path) const { return nodes_.contains(path) && !nodes_.at(path).folder; }
  bool HasFolder(const std::string& path) const { return nodes_.contains(path) && nodes_.at(path).folder; }
  std::string Contents(const std::string& path) const {
    return HasFile(path) ? contents_.at(nodes_.at(path).id).bytes : "";
  }
  void RemoveTree(const std::string& path);
  std::map<std::string, std::string> Files() const;  // exact path -> bytes, hidden files included
  std::size_t Links(const std::string& path) const;

  // Runs before every operation with the operation and its (first) path;
  // false makes the operation fail without effect. FindFile, FindCompanion,
  // NameTaken(In), OpenTargetFolder and IdentityOf come as kFind; a strip's
  // open as kOpenRead, its reads as kRead, its new version as kCreate and
  // kWriteAt, its replace as kReplace on the original's path.
  std::function<bool(Op, const std::string&)> before;
  std::size_t read_chunk = 4096;  // bytes per read call, so a read can fail half-way
  std::optional<std::size_t> free_bytes;  // writes past this many more bytes fail part-way (disk full)
  bool hard_links = true;  // false: a file system without them
  std::string program_folder = "/prog";

  // Changes to the tree: creating, writing, renaming, linking, removing.
  int changes() const { return changes_; }
  void StopBeforeChange(int n) { stop_before_ = n; }
  bool stopped() const { return dead_; }
  void Revive() { dead_ = false, stop_before_.reset(), changes_ = 0; }
  const std::set<std::string>& unsynced() const { return changed_; }  // folders changed since the last flush

  bool ReadFolder(const std::string& folder, platform::FolderListing* listing) override;
  bool PathExists(const std::string& path) override { return !dead_ && nodes_.contains(path); }
  std::optional<std::string> FindFile(const std::string& path) override { return Found(Op::kFind, path); }
  std::optional<std::string> FindCompanion(const std::string& q0) override { return Found(Op::kFind, q0, true); }
  // A refused look counts as taken: nothing is risked.
  bool NameTaken(const std::string& path) override { return !Allow(Op::kFind, path) || Taken(path); }
  std::optional<std::uint64_t> FileLength(const std::string& path) override;
  std::unique_ptr<platform::ReadStream> OpenRead(const std::string& path) override;
  std::unique_ptr<platform::ReadStream> OpenSettingsFile(const std::string& path, platform::FileKind* kind) override;
  std::unique_ptr<platform::FileHandle> OpenReadWrite(const std::string& path) override;
  // Refused by the hook (kLock): another program's lock. Locks are held per
  // file, through renames, until the lock object goes.
  platform::LockResult LockMessage(const std::string& path, std::unique_ptr<platform::MessageLock>* lock) override {
    return Lock(path, false, lock);
  }
  platform::LockResult LockExact(const std::string& path, std::unique_ptr<platform::MessageLock>* lock) override {
    return Lock(path, true, lock);
  }
  bool Remove(const std::string& path) override;
  bool RenameNoReplace(const std::string& from, const std::string& to) override;
  std::unique_ptr<platform::TargetFolder> OpenTargetFolder(const std::string& path) override;
  bool NameTakenIn(platform::TargetFolder& folder, const std::string& name) override {
    return NameTaken(platform::JoinPath(folder.path(), name));
  }
  platform::LinkResult LinkInto(const std::string& from, platform::TargetFolder& folder, const std::string& name) override;
  bool RenameInto(const std::string& from, platform::TargetFolder& folder, const std::string& name) override {
    return RenameNoReplace(from, platform::JoinPath(folder.path(), name));
  }
  bool RemoveFrom(platform::TargetFolder& folder, const std::string& name) override {
    return RemoveExact(platform::JoinPath(folder.path(), name));
  }
  std::optional<platform::FileIdentity> IdentityOf(const std::string& path) override;
  bool RenameExact(const std::string& from, const std::string& to) override;
  bool RemoveExact(const std::string& path) override;
  std::optional<std::string> WhyFolderUnchangeable(const std::string&) override { return std::nullopt; }
  bool SyncChangedFolders() override { return !dead_ && (changed_.clear(), true); }
  std::string ProgramFolder() override { return program_folder; }

 private:
  // A folder, or a file by its identity, which it keeps through renames.
  struct Node { bool folder = false; std::uint64_t id = 0; };
  // A file's bytes; its version grows with every change, like a change time.
  struct Content { std::string bytes; std::uint64_t version = 0; };
  friend class FakeReadStream;
  friend class FakeFileHandle;
  friend class FakeTempFile;

  std::string& Bytes(std::uint64_t id) { return contents_[id].bytes; }
  bool Allow(Op op, const std::string& path) { return !dead_ && (!before || before(op, path)); }
  // Allow for an operation that changes the tree; where the host dies.
  bool AllowChange(Op op, const std::string& path);
  // Names in `folder` equal to `name` but for letter case; files only or any entry.
  std::vector<std::string> Like(const std::string& folder, const std::string& name, bool files_only) const;
  // The file `path` names (or, for a ".q0", its companion) by the shared letter-case rules.
  std::optional<std::string> Lookup(const std::string& path, bool companion = false) const;
  std::optional<std::string> Found(Op op, const std::string& path, bool companion = false) {
    return Allow(op, path) ? Lookup(path, companion) : std::nullopt;
  }
  bool Taken(const std::string& path) const;  // any entry of that name in any letter case
  // Whether `to` may get a file: a free, visible name in an existing folder.
  bool Free(const std::string& to) const;
  // LockMessage (`path` by the letter-case rules) or LockExact.
  platform::LockResult Lock(const std::string& path, bool exact, std::unique_ptr<platform::MessageLock>* lock);
  bool WriteBytes(std::uint64_t id, std::string_view bytes);  // appends, as far as the free space allows
  void Move(const std::string& from, const std::string& to);  // the node at `from` to the free name `to`
  void Unlink(const std::string& path);
  void Changed(const std::string& path) { changed_.insert(platform::SplitPath(path).first); }

  std::map<std::string, Node> nodes_;
  std::map<std::uint64_t, Content> contents_;
  std::uint64_t next_id_ = 1;
  std::set<std::uint64_t> locked_;
  int changes_ = 0;
  std::optional<int> stop_before_;
  bool dead_ = false;
  std::set<std::string> changed_;
  platform::ScopedHost installed_{*this};
};

}  // namespace testing_host
