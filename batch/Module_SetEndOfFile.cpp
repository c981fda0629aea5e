#include "batch/Module_SetEndOfFile.h"

bool TruncateFileAt(platform::FileHandle& file, std::int64_t length) {
  return length >= 0 && file.Truncate(static_cast<std::uint64_t>(length));
}
