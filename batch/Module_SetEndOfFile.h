#pragma once

#include <cstdint>
#include <string>

// Cuts the existing file at `path` to its first `length` bytes. Opens an
// existing file only; true when the cut was made.
bool TruncateFileAt(const std::string& path, std::int64_t length);
