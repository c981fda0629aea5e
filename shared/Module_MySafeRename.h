// Moving messages between queue folders without ever overwriting one, and
// the salvage tag that marks a message an operator sent back to its queue.
#pragma once

#include <string>
#include <string_view>

// The header line "X-Salvaged: yes" and an empty line, CR LF each: written
// over the last two bytes of a header file, it becomes the file's last header
// line when the file ended with an empty line.
inline constexpr std::string_view SalvageTagText = "X-Salvaged: yes\r\n\r\n";
// What the batch filter searches for when it removes the tag.
inline constexpr std::string_view SalvageTagHeader = "X-Salvaged: yes";

// The part of a file name before its first "." (all of it without one), in
// lower case.
std::string GetBaseName(const std::string& FileName);
// The part from the first "." to the end, dot included, in lower case; empty
// without a dot.
std::string GetExtension(const std::string& FileName);

// "~COL" and four symbols of A-Z and 1-9, 0, in capitals. The generator
// starts from the same fixed state in every process, so every run draws the
// same sequence; uniqueness rests on the existence tests of the callers.
std::string NewCollisionName();
// Puts the generator back to its starting state (tests).
void ResetCollisionNameGenerator();

// Moves one message from SourceFolder to TargetFolder: a ".q0" file together
// with its ".q1" companion under one base name, any other file alone. The
// moved files get lower-case names, or a fresh collision name when their name
// is taken in the target folder (a pair named "wwwwww" always gets one).
// Nothing is ever overwritten. Failures are passed over: a file that cannot
// be moved stays where it was. Returns the name the file (for a pair, its
// ".q0") got in TargetFolder, empty when the message did not move whole.
std::string SafeRenameMessage(const std::string& SourceFolder, const std::string& TargetFolder,
                              const std::string& FileName);

// Writes SalvageTagText over the last two bytes of the file at `path`. A
// file shorter than two bytes, or missing, is left unchanged. True when the
// tag was written whole.
bool AddSalvageTag(const std::string& path);
