#include "batch/main_Sievbat.h"

#include <ostream>

#include "batch/QueueAccess.h"
#include "platform/FileSystem.h"
#include "platform/ReadAhead.h"
#include "platform/Text.h"
#include "platform/Version.h"
#include "shared/Module_Filter.h"
#include "shared/Module_Messages.h"
#include "shared/Module_MySafeRename.h"
#include "shared/Module_SalvageTag.h"

namespace {

constexpr const char* kUsage =
    "usage: sievbat [--dry-run | --verbose] FOLDER\n"
    "       sievbat --help | --version\n"
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

void Dispatch(const std::string& folder, const std::string& name, const std::string& classification,
              PassOutput output, PassReport* report) {
  std::string_view action = ActionFor(classification);
  if (output == PassOutput::kDryRun) {
    report->Line(name, classification, action);
    return;
  }
  std::string held_as;
  bool done = false;
  if (action == "strip") {
    done = StripSalvageTag(folder, name);
  } else if (action == "delete") {
    done = DeleteFilteredMessage(folder, name);
  } else if (action == "hold") {
    std::optional<std::string> held = HoldFilteredMessage(folder, name);
    done = held.has_value();
    if (held) held_as = *held;
  }
  if (output != PassOutput::kVerbose || action == "keep") return;
  if (done) {
    report->Line(name, classification, action, held_as);
  } else {
    report->Line(name, classification, "failed", action);
  }
}

}  // namespace

bool ScanQueueFolder(const std::string& folder, PassOutput output, PassReport* report) {
  if (report == nullptr) output = PassOutput::kSilent;
  // One read of the folder tells every entry's type and which companions
  // exist; a message that changes nothing costs the open, status, read and
  // close of its header file alone.
  platform::FolderListing listing;
  if (!platform::Host().ReadFolder(folder, &listing)) return false;
  // What a killed pass left unfinished is put right first, so that this
  // pass sees every message whole, in one place.
  if (output != PassOutput::kDryRun && RecoverInterruptedChanges(QueueFamily(folder), &listing)) {
    if (!platform::Host().ReadFolder(folder, &listing)) return false;
  }
  std::vector<const platform::DirEntry*> headers;
  for (const platform::DirEntry& entry : listing.entries()) {
    if (!entry.is_directory && platform::MatchesMask(entry.name, "*.q0*")) headers.push_back(&entry);
  }
  // The header files are read and classified on the reading threads, a few
  // messages ahead; every action and every report line happens here, in the
  // folder's order, as a pass on one thread does them.
  struct ReadHeader {
    MessageRecord record;
    std::optional<std::uint64_t> length;
    bool complete = false;
    std::string classification;
  };
  const unsigned threads = platform::ReaderThreadCount();
  std::vector<ReadHeader> slots(platform::ReadAheadSlots(threads));
  auto read = [&](std::size_t index, std::size_t slot) {
    ReadHeader& header = slots[slot];
    const std::string& name = headers[index]->name;
    platform::JoinPathInto(header.record.Path, folder, name);
    ListedPair pair;
    pair.MeasureCompanion = false;
    if (std::optional<std::string> companion = listing.Companion(name)) {
      pair.Companion = platform::JoinPath(folder, *companion);
    }
    header.complete = ReadMessageHeaders(header.record, pair, &header.length);
    header.classification.clear();
    if (header.complete) header.classification = ClassifyMessage(header.record);
  };
  auto act = [&](std::size_t index, std::size_t slot) {
    const ReadHeader& header = slots[slot];
    const std::string& name = headers[index]->name;
    // A header file read only in part (held open by the remailer, a read
    // error) could hide the line that decides, the salvage tag among them:
    // such a message is left for the next pass. An empty one is skipped.
    if (header.length == 0u) return;
    if (!header.complete) {
      if (output == PassOutput::kDryRun) report->Line(name, "", "keep");
      return;
    }
    Dispatch(folder, name, header.classification, output, report);
  };
  platform::ReadInOrder(headers.size(), threads, read, act);
  // Moves and deletes reach the disk before the pass ends.
  platform::Host().SyncChangedFolders();
  return true;
}

std::vector<std::string> QueueFamily(const std::string& folder) {
  return {folder, platform::JoinPath(folder, "Wait"), platform::JoinPath(folder, "Errors")};
}

bool DeleteFilteredMessage(const std::string& folder, const std::string& name) {
  return DeleteMessageFiles(platform::JoinPath(folder, name));
}

std::optional<std::string> HoldFilteredMessage(const std::string& folder, const std::string& name) {
  return SafeRenameMessage(folder, platform::JoinPath(folder, "Wait"), name);
}

bool StripSalvageTag(const std::string& folder, const std::string& name) {
  return RemoveSalvageTags(platform::JoinPath(folder, name));
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
  if (std::optional<std::string> fault = TryLoadFilterTable()) {
    err << "sievbat: " << *fault << "\n";
    return 1;
  }
  // A folder that is not there is an empty queue; one that is there but
  // cannot be read is a fault to report.
  // The report is written as the pass goes; a dry run's many lines in large
  // pieces, a verbose pass's few at once, for the journal of an unattended run.
  PassReport report(out, output == PassOutput::kVerbose);
  // A pass without the right to change the folder still runs (and reports
  // each failed action), but says once why nothing could be done.
  if (output != PassOutput::kDryRun) {
    if (std::optional<std::string> fault = QueueChangeFault(folder)) err << "sievbat: " << *fault << "\n";
  }
  if (!ScanQueueFolder(folder, output, &report) && platform::Host().PathExists(folder)) {
    err << "sievbat: " << folder << ": cannot be listed\n";
    return 1;
  }
  return 0;
}
