#include "platform/FolderListing.h"

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

void FolderListing::Add(DirEntry entry) {
  by_lower_name_.emplace(AsciiLower(entry.name), static_cast<std::uint32_t>(entries_.size()));
  entries_.push_back(std::move(entry));
}

void FolderListing::Clear() {
  entries_.clear();
  leftovers_.clear();
  by_lower_name_.clear();
}

NameIndex::Kind FolderListing::KindOf(const std::string& name) {
  auto [first, last] = by_lower_name_.equal_range(AsciiLower(name));
  for (auto it = first; it != last; ++it) {
    const DirEntry& entry = entries_[it->second];
    if (entry.name == name) return entry.is_directory ? Kind::kOther : Kind::kFile;
  }
  return Kind::kNone;
}

std::vector<std::string> FolderListing::FilesLike(const std::string& name) {
  std::vector<std::string> like;
  auto [first, last] = by_lower_name_.equal_range(AsciiLower(name));
  for (auto it = first; it != last; ++it) {
    if (!entries_[it->second].is_directory) like.push_back(entries_[it->second].name);
  }
  return like;
}

std::optional<std::string> FolderListing::Companion(const std::string& header) {
  return ResolveCompanion(*this, header);
}

}  // namespace platform
