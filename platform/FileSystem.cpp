#include "platform/FileSystem.h"

#include <algorithm>

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

ReadEnd ReadToEnd(ReadStream& in, std::string* out, std::size_t limit) {
  out->clear();
  out->reserve(static_cast<std::size_t>(std::min<std::uint64_t>(in.Size(), limit)));
  char buffer[65536];
  for (;;) {
    // Whole buffers are asked for, also near the limit (a /proc file may
    // refuse other counts); what does not fit is never kept.
    long long n = in.Read(buffer, sizeof buffer);
    if (n < 0) return ReadEnd::kFailed;
    if (n == 0) return ReadEnd::kWhole;
    std::size_t got = static_cast<std::size_t>(n);
    if (got > limit - out->size()) return ReadEnd::kTooLong;
    if (out->capacity() - out->size() < got) {
      // Longer than reported: one buffer of the whole limit, taken fresh,
      // since a string that grows by itself may double past the limit.
      std::string whole;
      whole.reserve(limit);
      whole.append(*out);
      out->swap(whole);
    }
    out->append(buffer, got);
  }
}

}  // namespace platform
