// Byte-string helpers shared by the host layer and the system code. Letter
// case is folded for ASCII letters only; every other byte compares as itself.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace platform {

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool HasUpperAscii(std::string_view text);
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);

// True for a name or path ending in ".q0", letter case ignored: the header
// file of a message pair, the one that has a ".q1" companion.
bool EndsWithQ0(std::string_view name);

// Folder listing masks: "*" any run of characters, "?" exactly one, letter
// case ignored; "*.*" matches every name, also one without a dot. A name that
// begins with "." never matches.
bool MatchesMask(std::string_view name, std::string_view mask);

// Splits a path at its last separator into folder and name; the folder is
// empty when the path has no separator.
std::pair<std::string, std::string> SplitPath(const std::string& path);

// Appends `text` to `out` with backslash, TAB, LF and CR written as \\, \t,
// \n and \r: a field of a tab-separated line that stays one line.
void AppendEscaped(std::string& out, std::string_view text);

}  // namespace platform
