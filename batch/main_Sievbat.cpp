#include "batch/main_Sievbat.h"

#include <ostream>

#include "batch/Module_SetEndOfFile.h"
#include "platform/FileSystem.h"
#include "shared/Module_Filter.h"
#include "shared/Module_Messages.h"
#include "shared/Module_MySafeRename.h"

std::string QueueFolder;

namespace {

constexpr const char* kUsage =
    "usage: sievbat FOLDER\n"
    "One pass over the queue folder FOLDER with the rules of Filter.ini (read from\n"
    "the folder that holds the sievbat program). Every message pair \"name.q0\" with\n"
    "\"name.q1\" is classified; a rule tag ending in \"-\" deletes the message, one\n"
    "ending in \"W\" moves it into FOLDER/Wait (never overwriting a file there), and\n"
    "a message salvaged in the viewer loses its \"X-Salvaged: yes\" line.\n"
    "All arguments, joined by single blanks, form the folder path. Nothing is\n"
    "printed on success. Exit status: 0 done, 1 Filter.ini cannot be loaded,\n"
    "2 no folder given.\n";

std::string InQueueFolder(const std::string& name) { return QueueFolder + std::string(platform::kSep) + name; }

void Dispatch(const std::string& name, const std::string& classification) {
  if (classification == "XXX") StripSalvageTag(name);
  if (!classification.empty() && classification.back() == '-') DeleteFilteredMessage(name);
  if (!classification.empty() && classification.back() == 'W') HoldFilteredMessage(name);
}

}  // namespace

void ScanQueueFolder() {
  std::vector<platform::DirEntry> entries;
  if (!platform::Host().ListFolder(QueueFolder, "*.q0*", &entries)) return;
  MessageRecord record;
  for (const platform::DirEntry& entry : entries) {
    if (entry.is_directory || entry.size == 0) continue;
    record.Path = InQueueFolder(entry.name);
    ReadMessageHeaders(record);
    Dispatch(entry.name, ClassifyMessage(record));
  }
}

void DeleteFilteredMessage(const std::string& name) {
  std::string path = InQueueFolder(name);
  platform::Host().Remove(path);
  platform::Host().Remove(CompanionFile(path));
}

void HoldFilteredMessage(const std::string& name) {
  SafeRenameMessage(QueueFolder, QueueFolder + std::string(platform::kSep) + "Wait", name);
}

void StripSalvageTag(const std::string& name) {
  platform::FileSystem& fs = platform::Host();
  std::string path = InQueueFolder(name);
  std::string content;
  if (!platform::ReadWholeFile(fs, path, &content)) return;
  std::size_t at = content.find(SalvageTagHeader);
  if (at == std::string::npos) return;
  // CR LF goes back only after a cut that worked; a file that vanished or
  // could not be cut is left exactly as it was.
  if (TruncateFileAt(path, static_cast<std::int64_t>(at))) fs.Append(path, "\r\n");
}

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && args[0] == "--help") {
    out << kUsage;
    return 0;
  }
  std::string folder;
  for (std::size_t i = 0; i < args.size(); ++i) folder += (i == 0 ? "" : " ") + args[i];
  if (folder.empty()) {
    err << "usage: sievbat FOLDER   (sievbat --help tells more)\n";
    return 2;
  }
  try {
    LoadFilterTable();
  } catch (const FilterFileError& e) {
    err << "sievbat: " << e.what() << "\n";
    return 1;
  }
  QueueFolder = folder;
  ScanQueueFolder();
  return 0;
}
