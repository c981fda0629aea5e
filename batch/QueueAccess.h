// Whether the user running a pass may change the queue folder at all. An
// unattended pass runs as a system user that is given the queue by its
// group or a mount option; when that was not done, every delete, hold and
// strip fails, and the journal should say why in one line rather than only
// list the failed messages.
#pragma once

#include <optional>
#include <string>

// Why the running user cannot change files in `folder` (or in its Wait
// subfolder, where there is one): nullopt when it can, or when the folder
// does not exist (an empty queue). The text names the user and group ids
// and the system's reason, e.g. "uid 995 gid 995 may not change files in
// it: Permission denied".
std::optional<std::string> QueueChangeFault(const std::string& folder);
