#include "listing/GridLoader.h"

#include <algorithm>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ReadAhead.h"
#include "platform/Text.h"
#include "shared/Module_Filter.h"
#include "shared/Module_Messages.h"

namespace {

constexpr std::array<QueueListing, kQueueChoices> kListings{{
    {"/Mail/~Filtered", "*.*", false, 6},
    {"/Mail/MailIn", "*.*", false, 6},
    {"/Mail/Trash", "*.*", false, 6},
    {"/Mail/Mailout", "*.q0", true, 7},
    {"/Mail/NNTP", "*.q0", true, 7},
    {"/Mail/~Bounces", "*.*", false, 7},
}};

}  // namespace

const GridCells& GridHeaderTexts() {
  static const GridCells headers{"N° ",    "File Name ", "Size: ",       "FA ",   "Subject: ",
                                 "From: ", "To: ",       "ReturnPath: ", "Date: "};
  return headers;
}

const QueueListing& ListingFor(int index) {
  return kListings[static_cast<std::size_t>(std::clamp(index, 1, kQueueChoices) - 1)];
}

std::string FormatDigits(std::int64_t value, std::string_view pattern) {
  bool negative = value < 0;
  std::string digits = std::to_string(negative ? -static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value));
  if (digits == "0") digits.clear();  // a zero shows only where the pattern has a "0"
  std::string out;  // built from the right, reversed at the end
  std::size_t next = digits.size();
  for (std::size_t i = pattern.size(); i-- > 0;) {
    char p = pattern[i];
    if (p == '0' || p == '#') {
      if (next > 0) {
        out += digits[--next];
      } else if (p == '0') {
        out += '0';
      }
    } else {
      out += p;
    }
  }
  while (next > 0) out += digits[--next];  // digits beyond the pattern go in front
  if (negative) out += '-';
  std::reverse(out.begin(), out.end());
  return out;
}

namespace {

// Writes every cell of a message's row but its number, which only the
// folder's order gives: file name relative to `current_folder`, size,
// classification, subject, from, to, return path and date. The strings of
// `cells` keep their storage.
void WriteMessageCells(GridCells& cells, const MessageRecord& record, const std::string& current_folder,
                       const std::string& classification) {
  std::size_t prefix = current_folder.size() + 1;
  cells[1].assign(record.Path, std::min(prefix, record.Path.size()));
  cells[2] = std::to_string(record.Size);
  cells[3] = classification;
  cells[4] = record.Subject;
  cells[5] = record.From;
  cells[6] = record.To;
  cells[7] = record.ReturnPath;
  cells[8] = SortableDateText(record.Date);
}

}  // namespace

GridCounters LoadGridRows(const std::string& current_folder, int queue_index, GridLoadObserver& observer) {
  // One read of the folder gives every entry's type and the companions of
  // the pairs; then each message is read and shown in the folder's order, so
  // the counters run from the first file on.
  platform::FolderListing folder;
  bool listed = platform::Host().ReadFolder(current_folder, &folder);
  return LoadGridRows(current_folder, queue_index, observer, folder, listed);
}

GridCounters LoadGridRows(const std::string& current_folder, int queue_index, GridLoadObserver& observer,
                          platform::FolderListing& folder, bool listed) {
  const QueueListing& listing = ListingFor(queue_index);
  GridCounters counters;
  counters.Listed = listed;
  std::vector<const platform::DirEntry*> files;
  for (const platform::DirEntry& entry : folder.entries()) {
    if (!entry.is_directory && platform::MatchesMask(entry.name, listing.FileMask)) files.push_back(&entry);
  }
  // The reading threads read, classify and write the cells of a few
  // messages ahead; the rows, their numbers and the counters go to the
  // observer on this thread, in the folder's order.
  struct ListedMessage {
    MessageRecord record;
    std::optional<std::uint64_t> length;  // unset when the file could not be opened
    bool whole = true;
    GridCells cells;
  };
  const unsigned threads = platform::ReaderThreadCount();
  std::vector<ListedMessage> slots(platform::ReadAheadSlots(threads));
  auto read = [&](std::size_t index, std::size_t slot) {
    ListedMessage& message = slots[slot];
    const std::string& name = files[index]->name;
    platform::JoinPathInto(message.record.Path, current_folder, name);
    if (listing.Pairs) {
      ListedPair pair;
      if (std::optional<std::string> companion = folder.Companion(name)) {
        pair.Companion = platform::JoinPath(current_folder, *companion);
      }
      message.whole = ReadMessageHeaders(message.record, pair, &message.length);
    } else {
      message.whole = ReadSingleFileHeaders(message.record, &message.length);
    }
    if (message.length == 0u) return;
    WriteMessageCells(message.cells, message.record, current_folder, ClassifyMessage(message.record));
    // Nothing was read of a file not opened: no date, rather than the zero date.
    if (!message.length) message.cells[8].clear();
  };
  std::int64_t row = 0;
  auto show = [&](std::size_t index, std::size_t slot) {
    ListedMessage& message = slots[slot];
    observer.FileListed(files[index]->name);
    if (!message.whole && message.length) observer.ReadFailed(message.record.Path);
    if (!message.whole && !message.length) observer.OpenFailed(message.record.Path);
    if (message.length == 0u) {
      counters.Info3 = FormatDigits(++counters.Empty, "# ##0");
    } else {
      message.cells[0] = std::to_string(++row);
      observer.RowAdded(row, message.cells);
      counters.Info1 = FormatDigits(++counters.Files, "# ##0");
      counters.Bytes += message.record.Size;
      counters.Info2 = FormatDigits(counters.Bytes, "# ### ##0");
    }
    observer.CountersChanged(counters);
  };
  platform::ReadInOrder(files.size(), threads, read, show);
  return counters;
}
