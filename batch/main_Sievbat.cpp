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
    "usage: sievbat [--dry-run | --verbose] FOLDER\n"
    "One pass over the queue folder FOLDER with the rules of Filter.ini (read from\n"
    "the folder that holds the sievbat program). Every message pair \"name.q0\" with\n"
    "\"name.q1\" is classified; a rule tag ending in \"-\" deletes the message, one\n"
    "ending in \"W\" moves it into FOLDER/Wait (never overwriting a file there), and\n"
    "a message salvaged in the viewer loses its \"X-Salvaged: yes\" line.\n"
    "All arguments, joined by single blanks, form the folder path (after the\n"
    "option, if one is given). Nothing is printed on success, except:\n"
    "  --dry-run  change nothing and create nothing; print one line for each\n"
    "             header file the pass would look at, in folder order:\n"
    "             NAME<TAB>CLASSIFICATION<TAB>ACTION, ACTION one of delete, hold,\n"
    "             strip (the salvage line) and keep\n"
    "  --verbose  run the pass and print such a line for each message acted on:\n"
    "             delete, hold<TAB>the name it got in Wait, strip, or\n"
    "             failed<TAB>the action that could not be done\n"
    "CLASSIFICATION is what the viewer's \"FA \" column shows. In names,\n"
    "backslash, TAB, LF and CR are written \\\\, \\t, \\n and \\r.\n"
    "Exit status: 0 done (also for a folder that does not exist), 1 Filter.ini\n"
    "cannot be loaded or FOLDER cannot be listed, 2 no folder given.\n";

std::string InQueueFolder(const std::string& name) { return QueueFolder + std::string(platform::kSep) + name; }

void Dispatch(const std::string& name, const std::string& classification, PassOutput output, PassReport* report) {
  std::string_view action = ActionFor(classification);
  if (output == PassOutput::kDryRun) {
    report->Line(name, classification, action);
    return;
  }
  std::string held_as;
  bool done = action == "strip"    ? StripSalvageTag(name)
              : action == "delete" ? DeleteFilteredMessage(name)
              : action == "hold"   ? HoldFilteredMessage(name, &held_as)
                                   : false;
  if (output != PassOutput::kVerbose || action == "keep") return;
  if (done) {
    report->Line(name, classification, action, held_as);
  } else {
    report->Line(name, classification, "failed", action);
  }
}

}  // namespace

bool ScanQueueFolder(PassOutput output, PassReport* report) {
  if (report == nullptr) output = PassOutput::kSilent;
  std::vector<platform::DirEntry> entries;
  if (!platform::Host().ListFolder(QueueFolder, "*.q0*", &entries)) return false;
  MessageRecord record;
  for (const platform::DirEntry& entry : entries) {
    if (entry.is_directory || entry.size == 0) continue;
    record.Path = InQueueFolder(entry.name);
    // A header file read only in part (held open by the remailer, a read
    // error) could hide the line that decides, the salvage tag among them:
    // such a message is left for the next pass.
    if (!ReadMessageHeaders(record)) {
      if (output == PassOutput::kDryRun) report->Line(entry.name, "", "keep");
      continue;
    }
    Dispatch(entry.name, ClassifyMessage(record), output, report);
  }
  return true;
}

bool DeleteFilteredMessage(const std::string& name) {
  std::string path = InQueueFolder(name);
  bool removed = platform::Host().Remove(path);
  platform::Host().Remove(CompanionFile(path));
  return removed;
}

bool HoldFilteredMessage(const std::string& name, std::string* held_as) {
  std::string target = SafeRenameMessage(QueueFolder, QueueFolder + std::string(platform::kSep) + "Wait", name);
  if (held_as != nullptr) *held_as = target;
  return !target.empty();
}

bool StripSalvageTag(const std::string& name) {
  // One open file for the whole rewrite: the remailer or an operator may
  // move the message meanwhile, or put another file under its name, and
  // every step must stay on the file that was read.
  std::unique_ptr<platform::FileHandle> file = platform::Host().OpenReadWrite(InQueueFolder(name));
  if (!file) return false;
  std::string content;
  if (!file->ReadAll(&content)) return false;
  std::size_t at = FindSalvageTag(content);
  if (at == std::string::npos) return false;
  // The file ends at the tag with CR LF. The CR LF is written over the
  // tag's first two bytes and the file cut after them, which needs no free
  // space; a file that cannot be cut is put back as it was.
  if (!file->WriteAt(at, "\r\n")) return false;
  if (TruncateFileAt(*file, static_cast<std::int64_t>(at + 2))) return true;
  file->WriteAt(at, SalvageTagHeader.substr(0, 2));
  return false;
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
  PassOutput output = PassOutput::kSilent;
  std::size_t first = 0;
  if (!args.empty() && (args[0] == "--dry-run" || args[0] == "--verbose")) {
    output = args[0] == "--dry-run" ? PassOutput::kDryRun : PassOutput::kVerbose;
    first = 1;
  }
  std::string folder;
  for (std::size_t i = first; i < args.size(); ++i) folder += (i == first ? "" : " ") + args[i];
  if (folder.empty()) {
    err << "usage: sievbat [--dry-run | --verbose] FOLDER   (sievbat --help tells more)\n";
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
  // The report is written as the pass goes; a dry run's many lines in large
  // pieces, a verbose pass's few at once, for the journal of an unattended run.
  PassReport report(out, output == PassOutput::kVerbose);
  if (!ScanQueueFolder(output, &report) && platform::Host().PathExists(QueueFolder)) {
    err << "sievbat: " << QueueFolder << ": cannot be listed\n";
    return 1;
  }
  return 0;
}
