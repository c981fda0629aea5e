#include "platform/FolderListing.h"

#include <algorithm>

#include "platform/Text.h"

namespace platform {

std::optional<std::string> ResolveName(NameIndex& folder, const std::string& name) {
  if (name.empty() || name.front() == '.') return std::nullopt;
  switch (folder.KindOf(name)) {
    case NameIndex::Kind::kFile: return name;
    case NameIndex::Kind::kOther: return std::nullopt;
    case NameIndex::Kind::kNone: break;
  }
  std::vector<std::string> like = folder.FilesLike(name);
  if (like.size() != 1) return std::nullopt;
  return like.front();
}

std::optional<std::string> ResolveCompanion(NameIndex& folder, const std::string& header) {
  if (!EndsWithQ0(header) || header.front() == '.') return std::nullopt;
  std::string companion = header.substr(0, header.size() - 3) + ".q1";
  switch (folder.KindOf(companion)) {
    case NameIndex::Kind::kFile: return companion;
    case NameIndex::Kind::kOther: return std::nullopt;
    case NameIndex::Kind::kNone: break;
  }
  // Another header file of the same name in another letter case could own
  // any companion found that way: then none is taken.
  for (const std::string& other : folder.FilesLike(header)) {
    if (other != header) return std::nullopt;
  }
  std::vector<std::string> like = folder.FilesLike(companion);
  if (like.size() != 1) return std::nullopt;
  return like.front();
}

std::uint32_t FolderListing::LowerHash(std::string_view name) {
  std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a over the lower-case bytes
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(AsciiLower(c))) * 0x100000001b3u;
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));  // the low bits pick the slot
}

void FolderListing::Insert(std::uint32_t hash, std::uint32_t entry) {
  std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].entry != 0) i = (i + 1) & mask;
  slots_[i] = {hash, entry + 1};
}

template <class Visit>
void FolderListing::ForEachLike(const std::string& name, Visit visit) const {
  if (!slots_.empty()) ForEachLike(name, LowerHash(name), visit);
}

template <class Visit>
void FolderListing::ForEachLike(const std::string& name, std::uint32_t hash, Visit visit) const {
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask; slots_[i].entry != 0; i = (i + 1) & mask) {
    if (slots_[i].hash != hash) continue;
    const DirEntry& entry = entries_[slots_[i].entry - 1];
    if (EqualsIgnoreCase(entry.name, name)) visit(entry);
  }
}

void FolderListing::Add(DirEntry entry) {
  if ((entries_.size() + 1) * 2 > slots_.size()) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    for (const Slot& slot : old) {
      if (slot.entry != 0) Insert(slot.hash, slot.entry - 1);
    }
  }
  Insert(LowerHash(entry.name), static_cast<std::uint32_t>(entries_.size()));
  entries_.push_back(std::move(entry));
}

void FolderListing::Clear() {
  entries_.clear();
  leftovers_.clear();
  slots_.clear();
}

NameIndex::Kind FolderListing::KindOf(const std::string& name) {
  Kind kind = Kind::kNone;
  ForEachLike(name, [&](const DirEntry& entry) {
    if (entry.name == name) kind = entry.is_directory ? Kind::kOther : Kind::kFile;
  });
  return kind;
}

std::vector<std::string> FolderListing::FilesLike(const std::string& name) {
  std::vector<std::string> like;
  ForEachLike(name, [&](const DirEntry& entry) {
    if (!entry.is_directory) like.push_back(entry.name);
  });
  return like;
}

bool FolderListing::AnyFileLike(const std::string& name) const {
  bool any = false;
  ForEachLike(name, [&](const DirEntry& entry) { any = any || !entry.is_directory; });
  return any;
}

std::vector<char> FolderListing::AnyFilesLike(const std::vector<std::string>& names) const {
  std::vector<char> any(names.size(), 0);
  if (slots_.empty()) return any;
  constexpr std::size_t kBatch = 16;
  std::uint32_t hashes[kBatch];
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t first = 0; first < names.size(); first += kBatch) {
    const std::size_t n = std::min(kBatch, names.size() - first);
    // The slots of the whole batch are fetched, then the entries they point
    // at, then the names are compared.
    for (std::size_t i = 0; i < n; ++i) {
      hashes[i] = LowerHash(names[first + i]);
      __builtin_prefetch(&slots_[hashes[i] & mask]);
    }
    for (std::size_t i = 0; i < n; ++i) {
      const Slot& slot = slots_[hashes[i] & mask];
      if (slot.entry != 0) __builtin_prefetch(&entries_[slot.entry - 1]);
    }
    for (std::size_t i = 0; i < n; ++i) {
      ForEachLike(names[first + i], hashes[i], [&](const DirEntry& entry) {
        if (!entry.is_directory) any[first + i] = 1;
      });
    }
  }
  return any;
}

std::optional<std::string> FolderListing::Companion(const std::string& header) {
  return ResolveCompanion(*this, header);
}

}  // namespace platform
