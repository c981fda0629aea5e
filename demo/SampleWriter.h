// Building blocks for writing queue folders the way the remailer leaves them:
// a seedable random generator, message dates, pair messages (.q0 header file
// plus .q1 body), one-file messages, the salvage tag and Filter.ini.
//
// Every function here is deterministic: the same inputs (and the same
// LC_TIME locale for the queue date line) give the same bytes. All text is
// written with CR LF line ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sample {

inline constexpr std::string_view kCrLf = "\r\n";

// A seedable generator on platform::SplitMix64: the same sequence everywhere.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next();
  // Uniform enough in [0, n); n must be positive.
  std::uint64_t Below(std::uint64_t n) { return Next() % n; }
  // In [lo, hi], both ends included.
  std::int64_t Between(std::int64_t lo, std::int64_t hi);
  // True with a probability of `percent` in a hundred.
  bool Percent(unsigned percent) { return Below(100) < percent; }
  // A fresh generator whose sequence does not overlap this one in practice.
  Rng Fork() { return Rng(Next() ^ 0x6a09e667f3bcc909ULL); }

  template <typename Container>
  const auto& Pick(const Container& items) {
    return items[static_cast<std::size_t>(Below(std::size(items)))];
  }

  // Fisher-Yates, with this generator's draws.
  template <typename T>
  void Shuffle(std::vector<T>& items) {
    for (std::size_t i = items.size(); i > 1; --i) std::swap(items[i - 1], items[static_cast<std::size_t>(Below(i))]);
  }

  // `length` characters drawn from `alphabet`.
  std::string Token(std::size_t length, std::string_view alphabet);

  // `count` distinct indices out of [0, n), in increasing order.
  std::vector<std::size_t> Choose(std::size_t count, std::size_t n);

 private:
  std::uint64_t state_;
};

// A stable 64-bit hash (FNV-1a) used to derive per-folder seeds.
std::uint64_t HashText(std::string_view text);

// A moment as a clock in some zone shows it.
struct LocalTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 4;     // 0 = Sunday
  int year_day = 0;    // 0 = 1 January
  int utc_offset = 0;  // minutes east of UTC
};

// The clock reading at `utc_seconds` (seconds since 1970 UTC) in a zone
// `utc_offset_minutes` east of UTC.
LocalTime ToLocalTime(std::int64_t utc_seconds, int utc_offset_minutes);

// Line 2 of a .q0 file: strftime("%x %X") in the current LC_TIME locale.
std::string QueueDateLine(const LocalTime& t);

// "Sun, 6 Dec 2026 14:03:22 +0100".
std::string Rfc5322Date(const LocalTime& t);

// Older spellings still found in mail: two-digit years, zone names instead of
// numeric offsets, no day name, no seconds, a trailing zone comment. The time
// shown is always the same moment as `utc_seconds`.
std::string ObsoleteDate(std::int64_t utc_seconds, Rng& rng);

using Header = std::pair<std::string, std::string>;
using HeaderList = std::vector<Header>;

// Joins lines, each followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// "Name: value" CR LF for every header.
std::string RenderHeaders(const HeaderList& headers);

// A pair message: .q0 holds the queue line, the queue date line and the
// headers closed by an empty line; .q1 holds the body.
struct PairMessage {
  std::string queue_line;
  std::string date_line;
  HeaderList headers;
  std::string body;
};

std::string RenderHeaderFile(const PairMessage& message);

struct PairNames {
  std::string header_file;  // base.q0
  std::string body_file;    // base.q1
};

// File names of a pair; `capitals` writes the whole name in capitals.
PairNames PairFileNames(std::string_view base, bool capitals);

// A remailer-style base name: 8 lowercase letters and digits.
std::string RandomBaseName(Rng& rng);

// Tracks the names used in one folder, ignoring letter case the way the
// queue tools compare file names.
class NameSet {
 public:
  // False (and nothing recorded) when the name is already taken.
  bool Insert(std::string_view name);
  std::size_t size() const { return names_.size(); }

 private:
  std::set<std::string> names_;
};

// Writes `content` to `path`, replacing any file there. Throws
// std::runtime_error on failure.
void WriteFile(const std::filesystem::path& path, std::string_view content);

// Writes the tag over the last two bytes of an existing .q0 file, the way the
// viewer marks a salvaged pair. Files shorter than two bytes are left alone.
void ApplySalvageTag(const std::filesystem::path& q0_path);

enum class PairContent { kNormal, kEmptyHeaderFile, kSalvaged };

// Writes base.q0 and base.q1 into `folder`. kEmptyHeaderFile leaves the .q0
// at 0 bytes (the body is still written); kSalvaged tags the .q0 afterwards.
// Returns the number of bytes written.
std::uintmax_t WritePair(const std::filesystem::path& folder, std::string_view base, bool capitals,
                         const PairMessage& message, PairContent content);

// One-file message: headers, an empty line, the body.
std::string RenderOneFileMessage(const HeaderList& headers, std::string_view body);

struct FilterRule {
  std::string tag;          // ends in "-": delete; ends in "W": hold; else a label
  std::string header_word;  // "From: ", "Subject: ", "To: " or "Newsgroups: "
  std::string pattern;
};

// One "tag","header word","pattern" record per line.
std::string RenderFilterIni(const std::vector<FilterRule>& rules);
void WriteFilterIni(const std::filesystem::path& path, const std::vector<FilterRule>& rules);

}  // namespace sample
