// The summary of one queued message and the reader of pair messages: a
// header file "base.q0" and its companion "base.q1" in one folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "shared/DateTime.h"

struct MessageRecord {
  std::string Path;  // set by the caller; the .q0 file of a pair
  std::int64_t Size = 0;  // bytes of the file, or of both files of a pair
  std::string ReturnPath;
  std::string From;
  std::string ReplyTo;
  std::string To;
  std::string Cc;
  std::string Bcc;
  std::string Subject;
  std::string Newsgroups;
  DateTime Date;  // zero: no date
  std::string XSalvaged;
};

// The value of a header line: the text after `prefix` when the line begins
// with it (letter case ignored), else empty. Nothing is trimmed or copied:
// the value is a view into `line`.
std::string_view GetHeaderValue(std::string_view line, std::string_view prefix);

// The .q1 companion of a .q0 path: the path with its last three characters
// replaced by ".q1".
std::string CompanionFile(std::string_view q0_path);

// Header lines are read in bounded memory: a line keeps its first
// `max_line` bytes (1 MiB unless a test asks for less) and the rest is read
// through and dropped, so a field holds at most that much. A line so cut is
// never taken as the salvage tag, whatever its first bytes say.
inline constexpr std::size_t kMaxHeaderLine = std::size_t{1} << 20;

// Fills `record` from the pair whose header file is record.Path; keeps Path,
// resets every other field. A missing or unreadable file leaves the record as
// far as it got. False when the header file exists but could not be opened
// or read to its end: the record then does not tell the whole message, and
// nothing should be done to the message on its strength.
bool ReadMessageHeaders(MessageRecord& record, std::size_t max_line = kMaxHeaderLine);

// What a caller that has listed the folder already knows of a pair, so that
// the read asks the host for nothing more than the header file itself.
struct ListedPair {
  // The companion's actual path as the listing found it; nullopt: none.
  std::optional<std::string> Companion;
  // Whether the companion's length is wanted in Size (the viewer shows it;
  // the batch filter needs none and saves a status call per message).
  bool MeasureCompanion = true;
};

// ReadMessageHeaders for a listed pair. `header_length` (when given) gets
// the header file's length when it could be opened, else nullopt. A header
// file that is there but cannot be opened (no right to it, or to enter its
// folder) makes a listed pair unread: false, with Path and the Size that
// could be measured.
bool ReadMessageHeaders(MessageRecord& record, const ListedPair& listed,
                        std::optional<std::uint64_t>* header_length = nullptr,
                        std::size_t max_line = kMaxHeaderLine);

// Fills `record` from a one-file message at record.Path: only From, To,
// Subject, Return-Path, Newsgroups and Date (an Internet date, in UTC) are
// taken from the header block, which ends at the first empty line. Keeps
// Path, resets every other field. A missing file is not an error; false when
// the file exists but cannot be opened or read whole, the record then holding
// Path, Size and the headers read so far.
// `file_length` (when given) gets the file's length when it could be
// opened, else nullopt: a listing tells an empty file from a vanished one.
bool ReadSingleFileHeaders(MessageRecord& record, std::optional<std::uint64_t>* file_length = nullptr,
                           std::size_t max_line = kMaxHeaderLine);
