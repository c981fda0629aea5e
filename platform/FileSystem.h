// The host layer: every call that touches the operating system goes through
// one FileSystem. The real one works on Linux folders; tests install an
// in-memory fake (FakeFileSystem) to force faults.
//
// Rules every implementation keeps:
// - Paths are byte strings joined with kPathSeparator and never normalised.
// - File names compare without regard to ASCII letter case: an exact match is
//   tried first, then the folder is searched.
// - Only ordinary files count as files: folders and names that begin with "."
//   (hidden files) are never found, never listed.
// - Nothing is ever overwritten: a rename fails when any file of the target
//   name, in any letter case, exists; write operations open existing files only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kSep = "/";

struct DirEntry {
  std::string name;
  bool is_directory = false;
  std::uint64_t size = 0;
};

// A file opened for reading; Read returns the number of bytes read, 0 at the
// end of the file, -1 on a read error.
class ReadStream {
 public:
  virtual ~ReadStream() = default;
  virtual long long Read(char* buffer, std::size_t capacity) = 0;
  // The file's length when it was opened.
  virtual std::uint64_t Size() const = 0;
};

// An existing ordinary file opened for reading and writing, held under an
// exclusive lock while open. Every operation works on the one open file, so
// a rename or a new file of the same name meanwhile changes nothing: a
// rewrite in several steps stays on the file it began with.
class FileHandle {
 public:
  virtual ~FileHandle() = default;
  virtual std::optional<std::uint64_t> Size() = 0;
  // The whole content from the first byte; false on a read error.
  virtual bool ReadAll(std::string* out) = 0;
  // True only when every byte was written.
  virtual bool WriteAt(std::uint64_t offset, std::string_view bytes) = 0;
  virtual bool Truncate(std::uint64_t length) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Hands each entry of `folder` whose name matches `mask` (see
  // MatchesMask) to `visit` as it is read, in the folder's enumeration
  // order, so that a caller can show progress while a big folder is read.
  // `visit` must not change the folder. False when it cannot be listed.
  virtual bool ForEachEntry(const std::string& folder, const std::string& mask,
                            const std::function<void(const DirEntry&)>& visit) = 0;

  // All those entries at once.
  bool ListFolder(const std::string& folder, const std::string& mask, std::vector<DirEntry>* entries) {
    entries->clear();
    return ForEachEntry(folder, mask, [entries](const DirEntry& e) { entries->push_back(e); });
  }

  // True when anything (file or folder) exists at exactly this path.
  virtual bool PathExists(const std::string& path) = 0;

  // The actual path of the ordinary file that `path` names, letter case
  // ignored in the last component; nullopt when there is none.
  virtual std::optional<std::string> FindFile(const std::string& path) = 0;

  bool FileExists(const std::string& path) { return FindFile(path).has_value(); }

  virtual std::optional<std::uint64_t> FileLength(const std::string& path) = 0;
  virtual std::unique_ptr<ReadStream> OpenRead(const std::string& path) = 0;

  // The ordinary file `path` names, letter case ignored, opened for reading
  // and writing; nullptr when it is missing, or locked by another program.
  virtual std::unique_ptr<FileHandle> OpenReadWrite(const std::string& path) = 0;

  virtual bool Remove(const std::string& path) = 0;

  // Moves the ordinary file `from` to `to`. Fails, leaving both untouched,
  // when `from` is missing or a file of the name `to` exists in any letter
  // case. Never copies across file systems.
  virtual bool RenameNoReplace(const std::string& from, const std::string& to) = 0;

  // The folder that holds the running executable, without a trailing separator.
  virtual std::string ProgramFolder() = 0;
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

// Reads a whole file through `fs`. False when it cannot be opened or a read fails;
// `out` then holds what was read.
bool ReadWholeFile(FileSystem& fs, const std::string& path, std::string* out);

}  // namespace platform
