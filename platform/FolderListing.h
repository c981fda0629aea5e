// What one read of a folder found, and the rules by which a name is looked
// up in another letter case. The rules are written once, over a small view
// of one folder (NameIndex), so that the real host, the in-memory fake and a
// listing held in memory all choose the same file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct DirEntry {
  std::string name;
  bool is_directory = false;
};

// One folder as a host sees it.
class NameIndex {
 public:
  enum class Kind { kNone, kFile, kOther };  // kOther: a folder, link, FIFO, device...
  virtual ~NameIndex() = default;
  // What stands at exactly this name.
  virtual Kind KindOf(const std::string& name) = 0;
  // Every ordinary file whose name equals `name` when ASCII letter case is
  // ignored, an exact one included.
  virtual std::vector<std::string> FilesLike(const std::string& name) = 0;
};

// The ordinary file a name addresses: an entry of exactly that name decides
// alone (a folder or link there is no file, and no other letter case is
// tried); else the one file that has the name in another letter case, none
// when there are several. Hidden names (".x") are never found.
std::optional<std::string> ResolveName(NameIndex& folder, const std::string& name);

// The ".q1" companion of header file `header` (a name ending in ".q0" in any
// letter case): the file of exactly the companion's name; else, only when it
// is unambiguous, its one file in another letter case. A file that belongs to
// another header file is never taken: while another header file has the name
// of `header` in another letter case, only the exact name counts.
std::optional<std::string> ResolveCompanion(NameIndex& folder, const std::string& header);

// The ordinary files and folders of one folder in its enumeration order; a
// symbolic link, FIFO, socket or device is never an entry, nor a hidden name.
// Lookups by name are answered in memory, by the rules above.
class FolderListing : public NameIndex {
 public:
  void Add(DirEntry entry);
  void Clear();
  const std::vector<DirEntry>& entries() const { return entries_; }
  // Hidden names of our own programs' files (kHiddenPrefix): never entries,
  // but the traces of a change that a killed process left unfinished.
  void AddLeftover(std::string name) { leftovers_.push_back(std::move(name)); }
  const std::vector<std::string>& leftovers() const { return leftovers_; }

  Kind KindOf(const std::string& name) override;
  std::vector<std::string> FilesLike(const std::string& name) override;
  // Whether FilesLike(name) would find any, without building the list.
  bool AnyFileLike(const std::string& name) const;
  // AnyFileLike of each of `names` (1 or 0), looked up in batches whose
  // reads of the table overlap: in a folder of a hundred thousand files each
  // lookup otherwise waits for memory twice, one lookup after the other.
  std::vector<char> AnyFilesLike(const std::vector<std::string>& names) const;
  // The companion's name in this folder; nullopt for a name that does not
  // end in ".q0" or has no companion.
  std::optional<std::string> Companion(const std::string& header);

 private:
  // The entries by a hash of their name in lower case: open addressing over
  // a table at most half full, each slot a hash and the entry's position
  // plus one (0: empty). No allocation per name and few cache misses, for
  // folders of hundreds of thousands of files.
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t entry = 0;
  };
  static std::uint32_t LowerHash(std::string_view name);
  void Insert(std::uint32_t hash, std::uint32_t entry);
  // Every entry whose name equals `name` when letter case is ignored.
  template <class Visit>
  void ForEachLike(const std::string& name, Visit visit) const;
  template <class Visit>
  void ForEachLike(const std::string& name, std::uint32_t hash, Visit visit) const;

  std::vector<DirEntry> entries_;
  std::vector<std::string> leftovers_;
  std::vector<Slot> slots_;
};

}  // namespace platform
