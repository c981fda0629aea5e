// An in-memory host for tests. Files and folders live in a map keyed by their
// exact path; lookups ignore letter case like the real host. A hook runs
// before every operation and can deny it or change the tree first, which is
// how tests make a file vanish, an open fail or a target name get taken at
// the worst moment.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/FileSystem.h"

namespace testing_host {

enum class Op { kList, kFind, kLength, kOpenRead, kRead, kWriteAt, kTruncate, kRemove, kRename, kLock };

class FakeFileSystem : public platform::FileSystem {
 public:
  FakeFileSystem() { nodes_[""].folder = true; }  // the root folder

  // Tree set-up and inspection, by exact paths.
  void AddFolder(const std::string& path);  // parents too
  void AddFile(const std::string& path, std::string bytes);
  bool HasFile(const std::string& path) const { return nodes_.contains(path) && !HasFolder(path); }
  bool HasFolder(const std::string& path) const { return nodes_.contains(path) && nodes_.at(path).folder; }
  std::string Contents(const std::string& path) const { return HasFile(path) ? nodes_.at(path).bytes : ""; }
  void RemoveTree(const std::string& path);
  std::map<std::string, std::string> Files() const;  // exact path -> bytes

  // Runs before every operation with the operation and its (first) path.
  // Returning false makes the operation fail without effect.
  std::function<bool(Op, const std::string&)> before;
  // Bytes handed out per read call, so a read can fail half-way.
  std::size_t read_chunk = 4096;
  // When set, writes beyond this many further bytes fail part-way (disk full).
  std::optional<std::size_t> free_bytes;
  std::string program_folder = "/prog";

  bool ReadFolder(const std::string& folder, platform::FolderListing* listing) override;
  bool PathExists(const std::string& path) override;
  // FindFile, FindCompanion and NameTaken are all checked with Op::kFind.
  std::optional<std::string> FindFile(const std::string& path) override;
  std::optional<std::string> FindCompanion(const std::string& q0_path) override;
  bool NameTaken(const std::string& path) override;
  std::optional<std::uint64_t> FileLength(const std::string& path) override;
  std::unique_ptr<platform::ReadStream> OpenRead(const std::string& path) override;
  // Checked with Op::kOpenRead; a folder there is reported as one.
  std::unique_ptr<platform::ReadStream> OpenSettingsFile(const std::string& path, platform::FileKind* kind) override;
  // Opening is checked with Op::kOpenRead; the handle's reads, writes and
  // cuts with kRead, kWriteAt and kTruncate on the path it was opened by. It
  // follows its file through renames, as an open file does.
  std::unique_ptr<platform::FileHandle> OpenReadWrite(const std::string& path) override;
  // Checked with Op::kLock; refused is another program's lock (kBusy). Locks
  // are held per file, through renames, until the lock object goes.
  platform::LockResult LockMessage(const std::string& path, std::unique_ptr<platform::MessageLock>* lock) override;
  bool Remove(const std::string& path) override;
  bool RenameNoReplace(const std::string& from, const std::string& to) override;
  std::string ProgramFolder() override { return program_folder; }

 private:
  struct Node {
    bool folder = false;
    std::string bytes;
    std::uint64_t id = 0;  // the file's identity, kept through renames
  };
  friend class FakeReadStream;
  friend class FakeFileHandle;
  friend class FakeFolder;
  Node* NodeById(std::uint64_t id);
  std::uint64_t next_id_ = 1;
  std::set<std::uint64_t> locked_;

  bool Allow(Op op, const std::string& path) { return !before || before(op, path); }
  // The file `path` names (or, for a ".q0", its companion) by the shared letter-case rules.
  std::optional<std::string> Lookup(const std::string& path, bool companion = false) const;
  std::optional<std::string> Found(Op op, const std::string& path, bool companion = false);  // Lookup, if allowed
  bool Taken(const std::string& path) const;  // any entry of that name in any letter case
  bool WriteBytes(std::string& file, std::uint64_t offset, std::string_view bytes);

  std::map<std::string, Node> nodes_;
};

}  // namespace testing_host
