// The Linux file system behind the host interface.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "platform/FileSystem.h"

namespace platform {

class RealFileSystem : public FileSystem {
 public:
  bool ReadFolder(const std::string& folder, FolderListing* listing) override;
  bool PathExists(const std::string& path) override;
  std::optional<std::string> FindFile(const std::string& path) override;
  std::optional<std::string> FindCompanion(const std::string& q0_path) override;
  bool NameTaken(const std::string& path) override;
  std::optional<std::uint64_t> FileLength(const std::string& path) override;
  std::unique_ptr<ReadStream> OpenRead(const std::string& path) override;
  std::unique_ptr<ReadStream> OpenSettingsFile(const std::string& path, FileKind* kind) override;
  std::unique_ptr<FileHandle> OpenReadWrite(const std::string& path) override;
  LockResult LockMessage(const std::string& path, std::unique_ptr<MessageLock>* lock) override;
  bool Remove(const std::string& path) override;
  bool RenameNoReplace(const std::string& from, const std::string& to) override;
  std::unique_ptr<TargetFolder> OpenTargetFolder(const std::string& path) override;
  bool NameTakenIn(TargetFolder& folder, const std::string& name) override;
  LinkResult LinkInto(const std::string& from, TargetFolder& folder, const std::string& name) override;
  bool RenameInto(const std::string& from, TargetFolder& folder, const std::string& name) override;
  bool RemoveFrom(TargetFolder& folder, const std::string& name) override;
  std::optional<FileIdentity> IdentityOf(const std::string& path) override;
  bool RenameExact(const std::string& from, const std::string& to) override;
  bool RemoveExact(const std::string& path) override;
  LockResult LockExact(const std::string& path, std::unique_ptr<MessageLock>* lock) override;
  std::optional<std::string> WhyFolderUnchangeable(const std::string& folder) override;
  bool SyncChangedFolders() override;
  std::string ProgramFolder() override;
  // Reads touch shared state only in the letter-case index, which a mutex
  // guards; an exact name, the usual case, takes no lock.
  bool ReadsFromAnyThread() const override { return true; }

  // Runs between the checks and the rename of FileHandle::Replace, with the
  // original's path: tests make another program act at that instant.
  std::function<void(const std::string&)> before_replace;

 private:
  class LiveFolder;
  class FdTempFile;
  class FdFileHandle;
  class FdFolder;

  // Names of one folder that hold capital letters, by their lower-case form.
  // Looking up a name in another letter case needs only this part of a
  // folder: an all-lower-case name is found by a direct stat. The index is
  // valid while the folder's inode and modification time stay as recorded;
  // our own deletes and renames update it in place so that a pass which
  // moves many messages into one folder never lists that folder again.
  struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime {};
    bool operator==(const Stamp& o) const {
      return dev == o.dev && ino == o.ino && mtime.tv_sec == o.mtime.tv_sec &&
             mtime.tv_nsec == o.mtime.tv_nsec;
    }
  };
  struct FolderIndex {
    Stamp stamp;
    std::unordered_multimap<std::string, std::string> capitalised;
  };

  // Opens the ordinary file `path` names with `flags`, never through a final
  // link and never blocking; -1 when there is none. `st` gets its status.
  int OpenMessageFile(const std::string& path, int flags, struct stat* st, std::string* actual = nullptr);
  bool Unlink(const std::string& path);
  // Lists the folder into the letter-case index (and `listing` if given);
  // `read` (if given) gets the index as read. A read that overlapped one of
  // our own changes of the folder is not kept as its index.
  bool ReadAndIndex(const std::string& folder, FolderListing* listing, FolderIndex* read = nullptr);
  static std::optional<Stamp> StampOf(const std::string& folder);
  // The names of `folder` in capitals whose lower-case form is `lower`, from
  // its index, which is read again when the folder changed.
  std::vector<std::string> CapitalisedLike(const std::string& folder, const std::string& lower);
  bool HasIndex(const std::string& folder);
  // Called around our own changes of a folder: keeps a fresh index fresh.
  bool IndexIsFresh(const std::string& folder);
  void AfterOwnChange(const std::string& folder, bool was_fresh, const std::string* removed,
                      const std::string* added);

  // Reading threads look names up while the pass's thread changes folders:
  // indices_ and own_changes_ (how many of our own changes each folder has
  // seen) are used under index_mutex_ only.
  std::mutex index_mutex_;
  std::unordered_map<std::string, FolderIndex> indices_;
  std::unordered_map<std::string, std::uint64_t> own_changes_;
  std::set<std::string> changed_;  // folders to flush
};

// Whether a new version of a file of `mode` may stand in for it when its
// owner or group could not be given to the new version: never without the
// group, and without the owner only when the group has the owner's rights.
bool NewVersionKeepsAccess(mode_t mode, bool owner_kept, bool group_kept);

}  // namespace platform
