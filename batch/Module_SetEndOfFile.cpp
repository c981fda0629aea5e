#include "batch/Module_SetEndOfFile.h"

#include "platform/FileSystem.h"

bool TruncateFileAt(const std::string& path, std::int64_t length) {
  if (length < 0) return false;
  return platform::Host().Truncate(path, static_cast<std::uint64_t>(length));
}
