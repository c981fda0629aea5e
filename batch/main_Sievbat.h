// The batch filter: one pass over one queue folder. Every message pair is
// read, classified by the rules of Filter.ini and deleted (tag ending in
// "-"), held in the folder's "Wait" subfolder (tag ending in "W"), or freed
// of its salvage tag ("XXX"). Nothing is printed on success, unless the pass
// is asked to tell what it would do (--dry-run) or what it did (--verbose).
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/PassReport.h"

// The pass over `folder` (given without a trailing separator): every "*.q0*"
// entry that is a non-empty file.
// False when the folder cannot be listed. A dry run changes nothing and
// reports every header file it looks at; a verbose pass reports every
// message it acted on.
bool ScanQueueFolder(const std::string& folder, PassOutput output = PassOutput::kSilent,
                     PassReport* report = nullptr);

// A queue folder and the folders its messages move between (Wait, Errors):
// where a killed pass may have left a change unfinished.
std::vector<std::string> QueueFamily(const std::string& folder);

// The actions, each given the queue folder and the bare name of a .q0 file in it.
// True (or the name the message got in Wait) when the action was done.
bool DeleteFilteredMessage(const std::string& folder, const std::string& name);
std::optional<std::string> HoldFilteredMessage(const std::string& folder, const std::string& name);
bool StripSalvageTag(const std::string& folder, const std::string& name);

// The program: `args` are the command-line arguments after the program name.
// Returns the exit status: 0 done, 1 Filter.ini could not be loaded or the
// folder could not be listed, 2 no folder given. A first argument --dry-run
// or --verbose chooses the report on `out`; the rest is the folder.
int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
