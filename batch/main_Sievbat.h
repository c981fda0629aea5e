// The batch filter: one pass over one queue folder. Every message pair is
// read, classified by the rules of Filter.ini and deleted (tag ending in
// "-"), held in the folder's "Wait" subfolder (tag ending in "W"), or freed
// of its salvage tag ("XXX"). Nothing is printed on success, unless the pass
// is asked to tell what it would do (--dry-run) or what it did (--verbose).
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "batch/PassReport.h"

// The folder of the pass, without a trailing separator.
extern std::string QueueFolder;

// The pass over QueueFolder: every "*.q0*" entry that is a non-empty file.
// False when the folder cannot be listed. A dry run changes nothing and
// reports every header file it looks at; a verbose pass reports every
// message it acted on.
bool ScanQueueFolder(PassOutput output = PassOutput::kSilent, PassReport* report = nullptr);

// The actions, each given the bare name of a .q0 file in QueueFolder; true
// when done. The hold tells the name the message got in Wait.
bool DeleteFilteredMessage(const std::string& name);
bool HoldFilteredMessage(const std::string& name, std::string* held_as = nullptr);
bool StripSalvageTag(const std::string& name);

// Where the salvage tag begins in a header file's bytes: the first
// "X-Salvaged: yes" from which only tag lines and the final empty line
// follow, else the first one at all; npos when there is none.
std::size_t FindSalvageTag(std::string_view content);

// The program: `args` are the command-line arguments after the program name.
// Returns the exit status: 0 done, 1 Filter.ini could not be loaded or the
// folder could not be listed, 2 no folder given. A first argument --dry-run
// or --verbose chooses the report on `out`; the rest is the folder.
int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
