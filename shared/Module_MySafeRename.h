// Moving messages between queue folders without ever overwriting one, and
// deleting them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/FolderListing.h"

// "~COL" and four symbols of A-Z and 1-9, 0, in capitals. The generator
// starts from a state drawn anew in every process (random device, clock), so
// that programs moving messages into one folder at the same time do not all
// try the same names; uniqueness still rests on the existence tests of the
// callers and the rename that never replaces.
std::string NewCollisionName();
// Puts the generator into a fixed state, so that a test knows the names.
void ResetCollisionNameGenerator();

// Moves one message from SourceFolder to TargetFolder: a ".q0" file together
// with its ".q1" companion under one base name, any other file alone. The
// moved files get lower-case names, or a fresh collision name when their name
// is taken in the target folder by any entry in any letter case (a pair named
// "wwwwww" always gets one). Nothing is ever overwritten, and a pair stays
// together: the ".q1" moves only after its ".q0" moved, and when it cannot
// follow, the ".q0" is moved back. Returns the name the message (for a pair,
// its ".q0") got in TargetFolder; nullopt when it did not move.
std::optional<std::string> SafeRenameMessage(const std::string& SourceFolder, const std::string& TargetFolder,
                                             const std::string& FileName);

// Deletes the file at `path` and, for a ".q0" file, its companion (looked up
// before the header goes, so that a file of another message is never taken).
// Both go or neither: true when the message was deleted.
bool DeleteMessageFiles(const std::string& path);

// Finishes or undoes what a killed pass left unfinished in `folders` (a
// queue folder and the folders its messages move between): hidden files of
// ours that no process holds any more, second names of a body that a move
// left, a body left behind by a move where the file system has no hard
// links. True when anything was changed.
// `listing`, when given, is what a read of folders[0] found just before: it
// is used instead of reading that folder again, and given back (read anew
// when the recovery changed anything).
bool RecoverInterruptedChanges(const std::vector<std::string>& folders,
                               platform::FolderListing* listing = nullptr);

