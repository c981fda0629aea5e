// An in-memory host for tests. Files and folders live in a map keyed by their
// exact path; lookups ignore letter case like the real host. A file's bytes
// belong to its identity, so two names can share them (hard links). A hook
// runs before every operation and can deny it or change the tree first,
// which is how tests make a file vanish, an open fail or a target name get
// taken at the worst moment. The host can also die before its N-th change
// to the tree: from then on every operation fails, as if the process had
// been killed there, until Revive.
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
  void AddLink(const std::string& existing, const std::string& path);  // a second name
  bool HasFile(const std::string& path) const { return nodes_.contains(path) && !HasFolder(path); }
  bool HasFolder(const std::string& path) const { return nodes_.contains(path) && nodes_.at(path).folder; }
  std::string Contents(const std::string& path) const;
  void RemoveTree(const std::string& path);
  std::map<std::string, std::string> Files() const;  // exact path -> bytes, hidden files included
  std::size_t Links(const std::string& path) const;

  // Runs before every operation with the operation and its (first) path.
  // Returning false makes the operation fail without effect.
  std::function<bool(Op, const std::string&)> before;
  // Bytes handed out per read call, so a read can fail half-way.
  std::size_t read_chunk = 4096;
  // When set, writes beyond this many further bytes fail part-way (disk full).
  std::optional<std::size_t> free_bytes;
  // False: a file system without hard links.
  bool hard_links = true;
  std::string program_folder = "/prog";
  std::set<std::string> unchangeable;

  // Changes to the tree: creating, writing, renaming, linking, removing.
  int changes() const { return changes_; }
  void StopBeforeChange(int n) { stop_before_ = n; }
  bool stopped() const { return dead_; }
  void Revive() { dead_ = false, stop_before_.reset(), changes_ = 0; }
  // Folders flushed by SyncChangedFolders, and those changed since.
  const std::set<std::string>& synced() const { return synced_; }
  const std::set<std::string>& unsynced() const { return changed_; }

  bool ReadFolder(const std::string& folder, platform::FolderListing* listing) override;
  bool PathExists(const std::string& path) override;
  // FindFile, FindCompanion, NameTaken(In) and IdentityOf are all checked with Op::kFind.
  std::optional<std::string> FindFile(const std::string& path) override;
  std::optional<std::string> FindCompanion(const std::string& q0_path) override;
  bool NameTaken(const std::string& path) override;
  std::optional<std::uint64_t> FileLength(const std::string& path) override;
  std::unique_ptr<platform::ReadStream> OpenRead(const std::string& path) override;
  // Checked with Op::kOpenRead; a folder there is reported as one.
  std::unique_ptr<platform::ReadStream> OpenSettingsFile(const std::string& path, platform::FileKind* kind) override;
  // Opening is checked with Op::kOpenRead, the read with kRead, the new
  // version with kCreate and kWriteAt (its path), the replace with kReplace
  // on the original's path, just before the original is compared with what
  // was read.
  std::unique_ptr<platform::FileHandle> OpenReadWrite(const std::string& path) override;
  // Checked with Op::kLock; refused is another program's lock (kBusy). Locks
  // are held per file, through renames, until the lock object goes.
  platform::LockResult LockMessage(const std::string& path, std::unique_ptr<platform::MessageLock>* lock) override;
  platform::LockResult LockExact(const std::string& path, std::unique_ptr<platform::MessageLock>* lock) override;
  bool Remove(const std::string& path) override;
  bool RenameNoReplace(const std::string& from, const std::string& to) override;
  std::unique_ptr<platform::TargetFolder> OpenTargetFolder(const std::string& path) override;
  bool NameTakenIn(platform::TargetFolder& folder, const std::string& name) override;
  platform::LinkResult LinkInto(const std::string& from, platform::TargetFolder& folder, const std::string& name) override;
  bool RenameInto(const std::string& from, platform::TargetFolder& folder, const std::string& name) override;
  bool RemoveFrom(platform::TargetFolder& folder, const std::string& name) override;
  std::optional<platform::FileIdentity> IdentityOf(const std::string& path) override;
  bool RenameExact(const std::string& from, const std::string& to) override;
  bool RemoveExact(const std::string& path) override;
  // Folders listed in `unchangeable` answer "may not change files in it".
  std::optional<std::string> WhyFolderUnchangeable(const std::string& folder) override;
  bool SyncChangedFolders() override;
  std::string ProgramFolder() override { return program_folder; }

 private:
  struct Node {
    bool folder = false;
    std::uint64_t id = 0;  // the file's identity, kept through renames
  };
  struct Content {
    std::string bytes;
    std::uint64_t version = 0;  // grows with every change, like a change time
  };
  friend class FakeReadStream;
  friend class FakeFileHandle;
  friend class FakeTempFile;
  friend class FakeFolder;
  std::string& Bytes(std::uint64_t id) { return contents_[id].bytes; }
  std::uint64_t next_id_ = 1;
  std::set<std::uint64_t> locked_;

  bool Allow(Op op, const std::string& path) { return !dead_ && (!before || before(op, path)); }
  // Allow for an operation that changes the tree; where the host dies.
  bool AllowChange(Op op, const std::string& path);
  // The file `path` names (or, for a ".q0", its companion) by the shared letter-case rules.
  std::optional<std::string> Lookup(const std::string& path, bool companion = false) const;
  std::optional<std::string> Found(Op op, const std::string& path, bool companion = false);  // Lookup, if allowed
  bool Taken(const std::string& path) const;  // any entry of that name in any letter case
  bool WriteBytes(std::string& file, std::uint64_t offset, std::string_view bytes);
  // Moves the node at `from` to the free name `to`.
  void Move(const std::string& from, const std::string& to);
  void Unlink(const std::string& path);
  void Changed(const std::string& path) { changed_.insert(platform::SplitPath(path).first); }

  std::map<std::string, Node> nodes_;
  std::map<std::uint64_t, Content> contents_;
  int changes_ = 0;
  std::optional<int> stop_before_;
  bool dead_ = false;
  std::set<std::string> changed_, synced_;
};

}  // namespace testing_host
