#pragma once

#include <cstdint>

#include "platform/FileSystem.h"

// Cuts the open file to its first `length` bytes; true when the cut was made.
bool TruncateFileAt(platform::FileHandle& file, std::int64_t length);
