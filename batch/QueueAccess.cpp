#include "batch/QueueAccess.h"

#include "platform/FileSystem.h"

std::optional<std::string> QueueChangeFault(const std::string& folder) {
  platform::FileSystem& fs = platform::Host();
  if (std::optional<std::string> fault = fs.WhyFolderUnchangeable(folder)) {
    return folder + ": " + *fault + "; no message can be deleted, held or stripped";
  }
  std::string wait = platform::JoinPath(folder, "Wait");
  if (std::optional<std::string> fault = fs.WhyFolderUnchangeable(wait)) {
    return wait + ": " + *fault + "; no message can be held";
  }
  return std::nullopt;
}
