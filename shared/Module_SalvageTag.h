// The salvage tag that marks a message an operator sent back to its queue:
// the viewer and the sample writer add it, the batch filter removes it.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The header line "X-Salvaged: yes" and an empty line, CR LF each: written
// over the last two bytes of a header file, it becomes the file's last header
// line when the file ended with an empty line.
inline constexpr std::string_view SalvageTagText = "X-Salvaged: yes\r\n\r\n";
// The tag line without its line end. The batch filter removes every header
// line that reads so, letter case ignored, as the header reader recognises it.
inline constexpr std::string_view SalvageTagHeader = "X-Salvaged: yes";

// Replaces the message file at `path` by what `change` makes of its bytes
// (nullopt: nothing to change), as a new version that stands in for the old
// one whole, and only while the name still holds the file that was read,
// unchanged. True when the file was replaced.
bool RewriteMessageFile(const std::string& path,
                        const std::function<std::optional<std::string>(const std::string&)>& change);

// Writes SalvageTagText over the last two bytes of the file at `path`. A
// file shorter than two bytes, or missing, is left unchanged. True when the
// file carries the tag, also when it ended in it already.
bool AddSalvageTag(const std::string& path);

// Removes the salvage tag lines of the header file at `path`
// (WithoutSalvageTags). True when the file was rewritten without them.
bool RemoveSalvageTags(const std::string& path);

// A header file's bytes without its salvage tag lines: every line from line
// 3 on that reads "X-Salvaged: yes" (letter case ignored, as the header
// reader recognises the tag), with its line end; every other byte is kept.
std::string WithoutSalvageTags(std::string_view content);

