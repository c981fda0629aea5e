#include "batch/main_Sievbat.h"

#include <ostream>

#include "batch/Module_SetEndOfFile.h"
#include "platform/FileSystem.h"
#include "platform/Version.h"
#include "shared/Module_Filter.h"
#include "shared/Module_Messages.h"
#include "shared/Module_MySafeRename.h"

std::string QueueFolder;

namespace {

constexpr const char* kUsage =
    "usage: sievbat FOLDER\n"
    "       sievbat --help | --version\n"
    "One pass over the queue folder FOLDER with the rules of Filter.ini (read from\n"
    "the folder that holds the sievbat program). Every message pair \"name.q0\" with\n"
    "\"name.q1\" is classified; a rule tag ending in \"-\" deletes the message, one\n"
    "ending in \"W\" moves it into FOLDER/Wait (never overwriting a file there), and\n"
    "a message salvaged in the viewer loses its \"X-Salvaged: yes\" line.\n"
    "All arguments, joined by single blanks, form the folder path. Nothing is\n"
    "printed on success. Exit status: 0 done (also for a folder that does not\n"
    "exist), 1 Filter.ini cannot be loaded or FOLDER cannot be listed, 2 no\n"
    "folder given.\n";

std::string InQueueFolder(const std::string& name) { return QueueFolder + std::string(platform::kSep) + name; }

void Dispatch(const std::string& name, const std::string& classification) {
  if (classification == "XXX") StripSalvageTag(name);
  if (!classification.empty() && classification.back() == '-') DeleteFilteredMessage(name);
  if (!classification.empty() && classification.back() == 'W') HoldFilteredMessage(name);
}

}  // namespace

bool ScanQueueFolder() {
  std::vector<platform::DirEntry> entries;
  if (!platform::Host().ListFolder(QueueFolder, "*.q0*", &entries)) return false;
  MessageRecord record;
  for (const platform::DirEntry& entry : entries) {
    if (entry.is_directory || entry.size == 0) continue;
    record.Path = InQueueFolder(entry.name);
    // A header file read only in part (held open by the remailer, a read
    // error) could hide the line that decides, the salvage tag among them:
    // such a message is left for the next pass.
    if (!ReadMessageHeaders(record)) continue;
    Dispatch(entry.name, ClassifyMessage(record));
  }
  return true;
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
  // One open file for the whole rewrite: the remailer or an operator may
  // move the message meanwhile, or put another file under its name, and
  // every step must stay on the file that was read.
  std::unique_ptr<platform::FileHandle> file = platform::Host().OpenReadWrite(InQueueFolder(name));
  if (!file) return;
  std::string content;
  if (!file->ReadAll(&content)) return;
  std::size_t at = FindSalvageTag(content);
  if (at == std::string::npos) return;
  // The file ends at the tag with CR LF. The CR LF is written over the
  // tag's first two bytes and the file cut after them, which needs no free
  // space; a file that cannot be cut is put back as it was.
  if (!file->WriteAt(at, "\r\n")) return;
  if (!TruncateFileAt(*file, static_cast<std::int64_t>(at + 2))) file->WriteAt(at, SalvageTagHeader.substr(0, 2));
}

std::size_t FindSalvageTag(std::string_view content) {
  // The tag is what the viewer wrote at the end of the file: one or more tag
  // lines and the empty line. The first occurrence that begins such an end
  // is the tag; text that only quotes it earlier (a subject) is passed over.
  // A file with no such end is cut at the first occurrence.
  auto is_tag_end = [&](std::size_t at) {
    std::string_view rest = content.substr(at);
    while (rest.starts_with(SalvageTagHeader) && rest.substr(SalvageTagHeader.size()).starts_with("\r\n")) {
      rest.remove_prefix(SalvageTagHeader.size() + 2);
      if (rest == "\r\n") return true;
    }
    return false;
  };
  std::size_t first = content.find(SalvageTagHeader);
  for (std::size_t at = first; at != std::string_view::npos; at = content.find(SalvageTagHeader, at + 1)) {
    if (is_tag_end(at)) return at;
  }
  return first;
}

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && args[0] == "--help") {
    out << kUsage;
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << "sievbat " << kKestraneVersion << "\n";
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
  // A folder that is not there is an empty queue; one that is there but
  // cannot be read is a fault to report.
  if (!ScanQueueFolder() && platform::Host().PathExists(QueueFolder)) {
    err << "sievbat: " << QueueFolder << ": cannot be listed\n";
    return 1;
  }
  return 0;
}
