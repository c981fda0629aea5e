#pragma once

#include <string>
#include <string_view>

// Turns a fixed-length text buffer filled by the operating system into a
// string: the text before its first NUL, or, without a NUL, the text without
// its trailing blanks.
std::string RTrimNull(std::string_view text);
