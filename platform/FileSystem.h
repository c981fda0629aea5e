// The host layer: every call that touches the operating system goes through
// one FileSystem. The real one works on Linux folders; tests install an
// in-memory fake (FakeFileSystem) to force faults.
//
// Rules every implementation keeps:
// - Paths are byte strings joined with kPathSeparator and never normalised.
// - File names compare without regard to ASCII letter case, by the rules of
//   ResolveName and ResolveCompanion (FolderListing.h): an exact name always
//   wins, another letter case is used only when it is unambiguous.
// - Only ordinary files count as files: folders, symbolic links, FIFOs,
//   devices and names that begin with "." (hidden files) are never found,
//   never listed, never opened, moved, deleted or rewritten. Opening a
//   message file never follows a final link and never blocks.
// - Nothing is ever overwritten: a rename fails when any entry of the target
//   name (file, folder, link) exists in any letter case. A file is never
//   written in place: a new version replaces it whole (FileHandle).
// - Hidden names that begin with kHiddenPrefix are our own: new versions
//   being written and bodies of messages being deleted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FolderListing.h"

namespace platform {

inline constexpr char kPathSeparator = '/';
// The start of every hidden name our programs give a file.
inline constexpr std::string_view kHiddenPrefix = ".~kq";

// `name` in `folder`: the two joined by one separator, nothing normalised.
// Written into `path`, which keeps its storage, or returned as a new string.
inline void JoinPathInto(std::string& path, std::string_view folder, std::string_view name) {
  path.clear();
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder);
  path += kPathSeparator;
  path.append(name);
}
inline std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path;
  JoinPathInto(path, folder, name);
  return path;
}

// What stands at a path that is asked for as a file.
enum class FileKind { kMissing, kFile, kFolder, kFifo, kDevice, kOther };

// A file opened for reading; Read returns the number of bytes read, 0 at the
// end of the file, -1 on a read error.
class ReadStream {
 public:
  virtual ~ReadStream() = default;
  virtual long long Read(char* buffer, std::size_t capacity) = 0;
  // The file's length when it was opened.
  virtual std::uint64_t Size() const = 0;
};

// A new version of a message file: a hidden file beside it, held under an
// exclusive lock while it exists, so that a later pass never takes it for a
// leftover. Removed when destroyed unless it replaced the original.
class TempFile {
 public:
  virtual ~TempFile() = default;
  // Appends `bytes`; true only when every byte was written.
  virtual bool Write(std::string_view bytes) = 0;
};

// An existing ordinary file with one link, opened for reading and held under
// an exclusive lock while open. It is never written: a change is a new
// version (NewVersion) that replaces it whole (Replace), so that a kill at
// any instant leaves either the old bytes or the new ones.
class FileHandle {
 public:
  virtual ~FileHandle() = default;
  // The whole content from the first byte; false on a read error. Remembers
  // what the file was when read, for Replace.
  virtual bool ReadAll(std::string* out) = 0;
  // A hidden new file in the same folder; nullptr when it cannot be made.
  virtual std::unique_ptr<TempFile> NewVersion() = 0;
  // Gives `version` the original's mode, group and owner, flushes it to the
  // disk and renames it over the original, but only while the name still
  // holds the file that was read, unchanged: same file, one link, same size
  // and change time. Where the owner cannot be kept (an unprivileged
  // process), only when the file's group has the rights of its owner, so
  // that every program that could use the file still can. False, with the
  // original untouched, otherwise.
  virtual bool Replace(TempFile& version) = 0;
};

// What stands at a file name, for telling two names of one file apart from
// two files: the file's identity and how many names it has.
struct FileIdentity {
  std::uint64_t device = 0, inode = 0, links = 0;
  bool SameFile(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
};

// A folder opened as the target of moves: the folder itself, never a link,
// FIFO or file standing under its name. Moves into it go through this
// handle, so a folder swapped for a link meanwhile is not followed.
class TargetFolder {
 public:
  explicit TargetFolder(std::string path) : path_(std::move(path)) {}
  virtual ~TargetFolder() = default;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// What a hard link into a target folder came to.
enum class LinkResult { kLinked, kFailed, kUnsupported };  // kUnsupported: no hard links there

// An exclusive hold on a message's header file (see LockMessage); released
// when destroyed.
class MessageLock {
 public:
  virtual ~MessageLock() = default;
};

// What LockMessage found.
enum class LockResult {
  kHeld,      // the lock is ours
  kBusy,      // another program holds it: the message is being changed
  kMissing,   // no ordinary file there (any more)
  kUnlocked,  // the file is there but cannot be opened to lock it
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Reads every entry of `folder` into `listing` (ordinary files and
  // folders, in the folder's enumeration order; see FolderListing). The
  // entry types come with the folder read itself: no file is looked at.
  // False when the folder cannot be listed.
  virtual bool ReadFolder(const std::string& folder, FolderListing* listing) = 0;

  // The entries of `folder` whose names match `mask` (see MatchesMask).
  bool ListFolder(const std::string& folder, const std::string& mask, std::vector<DirEntry>* entries);

  // True when anything (file or folder) exists at exactly this path.
  virtual bool PathExists(const std::string& path) = 0;

  // The actual path of the ordinary file that `path` names (ResolveName on
  // its last component); nullopt when there is none.
  virtual std::optional<std::string> FindFile(const std::string& path) = 0;

  bool FileExists(const std::string& path) { return FindFile(path).has_value(); }

  // The actual path of the ".q1" companion of the header file `q0_path`
  // (ResolveCompanion); nullopt when it has none.
  virtual std::optional<std::string> FindCompanion(const std::string& q0_path) = 0;

  // True when any entry (file, folder, link, anything) has the last
  // component's name in any letter case: the name cannot be given to a file.
  virtual bool NameTaken(const std::string& path) = 0;

  virtual std::optional<std::uint64_t> FileLength(const std::string& path) = 0;
  // The ordinary file `path` names, opened for reading; nullptr when there
  // is none (a link, FIFO or device there is none) or it cannot be opened,
  // with errno telling why (EACCES: refused, ENOENT: nothing of that name).
  virtual std::unique_ptr<ReadStream> OpenRead(const std::string& path) = 0;

  // A settings file (Filter.ini), which unlike a message file may be a
  // symbolic link to an ordinary file: opened for reading, or nullptr with
  // `kind` telling what stands there instead (kFile: there, but it cannot be
  // read; errno says why). A FIFO, folder or device is never opened.
  virtual std::unique_ptr<ReadStream> OpenSettingsFile(const std::string& path, FileKind* kind) = 0;

  // The ordinary file `path` names, letter case ignored, opened to be read
  // and replaced; nullptr when it is missing, locked by another program, or
  // has another hard link (its bytes also stand under another name).
  virtual std::unique_ptr<FileHandle> OpenReadWrite(const std::string& path) = 0;

  // Locks the header file `path` names against the other programs of this
  // system while one of them moves or deletes its message. The lock belongs
  // to the open file and so goes with it through renames: a program that
  // finds a header whose body has not followed yet finds it locked. Never
  // waits: kBusy when another holds it. `lock` gets the lock when kHeld.
  virtual LockResult LockMessage(const std::string& path, std::unique_ptr<MessageLock>* lock) = 0;

  virtual bool Remove(const std::string& path) = 0;

  // The folder at exactly `path`, opened as a move target; nullptr when no
  // real folder stands there (a link to one is none).
  virtual std::unique_ptr<TargetFolder> OpenTargetFolder(const std::string& path) = 0;
  // True when any entry has `name` in `folder` in any letter case.
  virtual bool NameTakenIn(TargetFolder& folder, const std::string& name) = 0;
  // A second name `name` in `folder` for the ordinary file `from`; never
  // replaces anything. kUnsupported when the file system has no hard links.
  virtual LinkResult LinkInto(const std::string& from, TargetFolder& folder, const std::string& name) = 0;
  // Moves the ordinary file `from` to `name` in `folder`, never replacing.
  virtual bool RenameInto(const std::string& from, TargetFolder& folder, const std::string& name) = 0;
  // Removes exactly the file `name` in `folder`.
  virtual bool RemoveFrom(TargetFolder& folder, const std::string& name) = 0;

  // The identity of exactly the ordinary file at `path`, hidden names
  // included; nullopt when none is there.
  virtual std::optional<FileIdentity> IdentityOf(const std::string& path) = 0;
  // Renames exactly the entry `from` to `to` in the same folder, hidden
  // names included on both sides; never replaces. For a file's own hidden
  // names, which the name lookups above never find.
  virtual bool RenameExact(const std::string& from, const std::string& to) = 0;
  // Removes exactly the ordinary file at `path`, hidden names included.
  virtual bool RemoveExact(const std::string& path) = 0;
  // Locks exactly the ordinary file at `path` as LockMessage does.
  virtual LockResult LockExact(const std::string& path, std::unique_ptr<MessageLock>* lock) = 0;

  // Why this process may not add or remove names in `folder`: nullopt when
  // it may, or when no folder stands there; else a text naming the user and
  // the reason ("uid 995 gid 995 may not change files in it: Permission
  // denied", or "cannot be reached as ..." when a folder above it may not
  // be searched, which would make it look missing).
  virtual std::optional<std::string> WhyFolderUnchangeable(const std::string& folder) = 0;

  // Flushes to the disk every folder this host changed since the last
  // call, so that moves and deletes survive a power cut. False when one
  // could not be flushed.
  virtual bool SyncChangedFolders() = 0;

  // Moves the ordinary file `from` to `to`. Fails, leaving both untouched,
  // when `from` is missing or the name `to` is taken (NameTaken). Never
  // copies across file systems.
  virtual bool RenameNoReplace(const std::string& from, const std::string& to) = 0;

  // The folder that holds the running executable, without a trailing separator.
  virtual std::string ProgramFolder() = 0;

  // True when OpenRead, FileLength, FindFile and FileExists may be called
  // from several threads at once, also while one thread changes the tree
  // through this host: then a folder's messages are read on several threads.
  virtual bool ReadsFromAnyThread() const { return false; }
};

// The process-wide host. Defaults to the real file system.
FileSystem& Host();

// Installs `fs` as the host for the lifetime of the guard (tests).
class ScopedHost {
 public:
  explicit ScopedHost(FileSystem& fs);
  ~ScopedHost();
  ScopedHost(const ScopedHost&) = delete;
  ScopedHost& operator=(const ScopedHost&) = delete;

 private:
  FileSystem* previous_;
};

// How ReadToEnd ended.
enum class ReadEnd { kWhole, kFailed, kTooLong };

// Reads what is left of an open file into `out`, keeping at most `limit`
// bytes: kTooLong (the text cut) as soon as the file holds more, whatever
// length it reported (a /proc file reports 0, a file may grow while it is
// read). `out` never takes more than `limit` bytes of memory, plus the
// reported length while it is outgrown.
ReadEnd ReadToEnd(ReadStream& in, std::string* out, std::size_t limit);

}  // namespace platform
