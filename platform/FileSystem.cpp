#include "platform/FileSystem.h"

#include "platform/RealFileSystem.h"
#include "platform/Text.h"

namespace platform {
namespace {

FileSystem*& CurrentHost() {
  static RealFileSystem real;
  static FileSystem* current = &real;
  return current;
}

}  // namespace

FileSystem& Host() { return *CurrentHost(); }

ScopedHost::ScopedHost(FileSystem& fs) : previous_(CurrentHost()) { CurrentHost() = &fs; }
ScopedHost::~ScopedHost() { CurrentHost() = previous_; }

bool FileSystem::ListFolder(const std::string& folder, const std::string& mask, std::vector<DirEntry>* entries) {
  entries->clear();
  FolderListing listing;
  if (!ReadFolder(folder, &listing)) return false;
  for (const DirEntry& entry : listing.entries()) {
    if (MatchesMask(entry.name, mask)) entries->push_back(entry);
  }
  return true;
}

bool ReadToEnd(ReadStream& in, std::string* out) {
  out->clear();
  char buffer[65536];
  for (;;) {
    long long n = in.Read(buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace platform
