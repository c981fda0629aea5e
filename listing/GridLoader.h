// What the viewer's grid shows for a queue folder, without any widget: the
// header texts, the cell texts of each message row, the three running
// counters, and the load loop that lists a folder and reports every row and
// every counter change to an observer. The window repaints from those
// reports; `qvue --list` prints them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FolderListing.h"

inline constexpr int kGridColumns = 9;
using GridCells = std::array<std::string, kGridColumns>;

// Row 0 of the grid; each text ends in the blank that sorting marks.
const GridCells& GridHeaderTexts();

// The columns of header texts ("Subject: ", "From: ", "To: ", "ReturnPath: "),
// the ones a decoded view shows with their encoded words decoded.
inline constexpr int kFirstHeaderTextColumn = 4, kLastHeaderTextColumn = 7;

// The six queue folders the viewer offers, numbered as its option buttons.
struct QueueListing {
  const char* QueuePart;  // e.g. "/Mail/Mailout"
  const char* FileMask;   // "*.q0" for pairs, "*.*" for one-file messages
  bool Pairs;             // read with ReadMessageHeaders, else ReadSingleFileHeaders
  int HiddenColumn;       // 6 ("To: ") or 7 ("ReturnPath: ")
};
inline constexpr int kQueueChoices = 6;
// `index` from 1 to 6; anything else is clamped into that range.
const QueueListing& ListingFor(int index);

// Digit patterns: "0" a digit always shown, "#" a digit shown only when the
// number has one there, any other character a literal always shown; digits
// beyond the pattern go in front. FormatDigits(1234, "# ##0") is "1 234".
std::string FormatDigits(std::int64_t value, std::string_view pattern);

struct GridCounters {
  std::int64_t Files = 0;  // listed (non-empty) message files
  std::int64_t Bytes = 0;  // their sizes added up
  std::int64_t Empty = 0;  // files of length 0, not listed
  bool Listed = true;      // false when the folder could not be listed
  // The boxes' texts: "0" until a file changes them, then the running
  // total in "# ##0", "# ### ##0" and "# ##0".
  std::string Info1 = "0", Info2 = "0", Info3 = "0";
};

class GridLoadObserver {
 public:
  virtual ~GridLoadObserver() = default;
  // The observer may take the cells' texts: the loader does not use them again.
  virtual void RowAdded(std::int64_t row, GridCells& cells) = 0;
  virtual void CountersChanged(const GridCounters& counters) = 0;
  // A message file that was opened but could not be read whole; its row has
  // been added with what was read.
  virtual void ReadFailed(const std::string& /*path*/) {}
  // A message file that is there but could not be opened (no right to it or
  // to enter its folder); its row has been added with its name, the size
  // that could be measured and an empty date cell.
  virtual void OpenFailed(const std::string& /*path*/) {}
  // Every file the listing found, empty ones included, by its name.
  virtual void FileListed(const std::string& /*name*/) {}
};

// Lists `current_folder` as the queue folder `queue_index` (1 to 6) says, in
// the folder's enumeration order, classifying each message by the current
// filter rules. A missing or empty folder lists nothing.
GridCounters LoadGridRows(const std::string& current_folder, int queue_index, GridLoadObserver& observer);
// The same for a folder the caller has just read into `folder` (`listed`
// false: it could not be listed).
GridCounters LoadGridRows(const std::string& current_folder, int queue_index, GridLoadObserver& observer,
                          platform::FolderListing& folder, bool listed);
