#include "demo/SampleWriter.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "platform/SplitMix.h"
#include "shared/Module_SalvageTag.h"

namespace sample {

namespace {

constexpr std::array<std::string_view, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string Format(const char* format, auto... args) {
  char buffer[128];
  const int n = std::snprintf(buffer, sizeof buffer, format, args...);
  return std::string(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

std::string NumericZone(int offset_minutes) {
  const char sign = offset_minutes < 0 ? '-' : '+';
  const int magnitude = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  return Format("%c%02d%02d", sign, magnitude / 60, magnitude % 60);
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

std::uint64_t Rng::Next() { return platform::SplitMix64(state_); }

std::int64_t Rng::Between(std::int64_t lo, std::int64_t hi) {
  return lo + static_cast<std::int64_t>(Below(static_cast<std::uint64_t>(hi - lo) + 1));
}

std::string Rng::Token(std::size_t length, std::string_view alphabet) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) out.push_back(Pick(alphabet));
  return out;
}

std::vector<std::size_t> Rng::Choose(std::size_t count, std::size_t n) {
  if (count > n) count = n;
  // Partial Fisher-Yates over the index range, then sorted for stable use.
  std::vector<std::size_t> all(n);
  for (std::size_t i = 0; i < n; ++i) all[i] = i;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t j = i + static_cast<std::size_t>(Below(n - i));
    std::swap(all[i], all[j]);
  }
  all.resize(count);
  std::sort(all.begin(), all.end());
  return all;
}

std::uint64_t HashText(std::string_view text) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

LocalTime ToLocalTime(std::int64_t utc_seconds, int utc_offset_minutes) {
  using namespace std::chrono;
  const std::int64_t local = utc_seconds + std::int64_t{utc_offset_minutes} * 60;
  std::int64_t day_count = local / 86400;
  std::int64_t second_of_day = local % 86400;
  if (second_of_day < 0) {
    second_of_day += 86400;
    --day_count;
  }
  const sys_days date{days{day_count}};
  const year_month_day ymd{date};
  LocalTime t;
  t.year = static_cast<int>(ymd.year());
  t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  t.hour = static_cast<int>(second_of_day / 3600);
  t.minute = static_cast<int>(second_of_day / 60 % 60);
  t.second = static_cast<int>(second_of_day % 60);
  t.weekday = static_cast<int>(weekday{date}.c_encoding());
  t.year_day = static_cast<int>((date - sys_days{ymd.year() / January / 1}).count());
  t.utc_offset = utc_offset_minutes;
  return t;
}

std::string QueueDateLine(const LocalTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_wday = t.weekday;
  tm.tm_yday = t.year_day;
  tm.tm_isdst = 0;
  char buffer[128];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%x %X", &tm);
  return std::string(buffer, n);
}

std::string Rfc5322Date(const LocalTime& t) {
  return Format("%s, %d %s %04d %02d:%02d:%02d ", kDayNames[static_cast<std::size_t>(t.weekday)].data(),
                t.day, kMonthNames[static_cast<std::size_t>(t.month - 1)].data(), t.year, t.hour, t.minute,
                t.second) +
         NumericZone(t.utc_offset);
}

std::string ObsoleteDate(std::int64_t utc_seconds, Rng& rng) {
  struct NamedZone {
    const char* name;
    int offset;
  };
  static constexpr std::array<NamedZone, 10> kNamedZones = {{{"GMT", 0},
                                                             {"UT", 0},
                                                             {"EST", -300},
                                                             {"EDT", -240},
                                                             {"CST", -360},
                                                             {"CDT", -300},
                                                             {"MST", -420},
                                                             {"MDT", -360},
                                                             {"PST", -480},
                                                             {"PDT", -420}}};
  struct Comment {
    int offset;
    const char* text;
  };
  static constexpr std::array<Comment, 4> kComments = {
      {{60, " (CET)"}, {120, " (CEST)"}, {0, " (UTC)"}, {-300, " (EST)"}}};

  const bool named_zone = rng.Percent(50);
  std::string zone;
  std::string comment;
  int offset = 0;
  if (named_zone) {
    const NamedZone& z = rng.Pick(kNamedZones);
    zone = z.name;
    offset = z.offset;
  } else {
    const Comment& c = rng.Pick(kComments);
    offset = c.offset;
    zone = NumericZone(offset);
    if (rng.Percent(50)) comment = c.text;
  }
  const LocalTime t = ToLocalTime(utc_seconds, offset);
  // Named zones alone are not obsolete enough to be interesting every time;
  // mix in the other old habits independently.
  const bool day_name = rng.Percent(60);
  const bool two_digit_year = rng.Percent(named_zone ? 50 : 35);
  const bool seconds = rng.Percent(80);
  const bool padded_day = rng.Percent(30);

  std::string out;
  if (day_name) out += std::string(kDayNames[static_cast<std::size_t>(t.weekday)]) + ", ";
  out += Format(padded_day ? "%02d " : "%d ", t.day);
  out += std::string(kMonthNames[static_cast<std::size_t>(t.month - 1)]) + " ";
  out += two_digit_year ? Format("%02d ", t.year % 100) : Format("%04d ", t.year);
  out += seconds ? Format("%02d:%02d:%02d ", t.hour, t.minute, t.second) : Format("%02d:%02d ", t.hour, t.minute);
  out += zone + comment;
  return out;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += kCrLf;
  }
  return out;
}

std::string RenderHeaders(const HeaderList& headers) {
  std::string out;
  for (const auto& [name, value] : headers) {
    out += name;
    out += ": ";
    out += value;
    out += kCrLf;
  }
  return out;
}

std::string RenderHeaderFile(const PairMessage& message) {
  std::string out = message.queue_line;
  out += kCrLf;
  out += message.date_line;
  out += kCrLf;
  out += RenderHeaders(message.headers);
  out += kCrLf;
  return out;
}

PairNames PairFileNames(std::string_view base, bool capitals) {
  PairNames names{std::string(base) + ".q0", std::string(base) + ".q1"};
  if (capitals) {
    names.header_file = AsciiUpper(names.header_file);
    names.body_file = AsciiUpper(names.body_file);
  }
  return names;
}

std::string RandomBaseName(Rng& rng) {
  return rng.Token(8, "abcdefghijklmnopqrstuvwxyz0123456789");
}

bool NameSet::Insert(std::string_view name) { return names_.insert(AsciiLower(name)).second; }

void WriteFile(const std::filesystem::path& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void ApplySalvageTag(const std::filesystem::path& q0_path) {
  if (std::filesystem::file_size(q0_path) < 2) return;
  if (!AddSalvageTag(q0_path.string())) throw std::runtime_error("cannot tag " + q0_path.string());
}

std::uintmax_t WritePair(const std::filesystem::path& folder, std::string_view base, bool capitals,
                         const PairMessage& message, PairContent content) {
  const PairNames names = PairFileNames(base, capitals);
  const std::filesystem::path q0 = folder / names.header_file;
  std::string header_file;
  if (content != PairContent::kEmptyHeaderFile) header_file = RenderHeaderFile(message);
  WriteFile(q0, header_file);
  WriteFile(folder / names.body_file, message.body);
  std::uintmax_t written = header_file.size() + message.body.size();
  if (content == PairContent::kSalvaged) {
    ApplySalvageTag(q0);
    written += SalvageTagText.size() - 2;
  }
  return written;
}

std::string RenderOneFileMessage(const HeaderList& headers, std::string_view body) {
  std::string out = RenderHeaders(headers);
  out += kCrLf;
  out += body;
  return out;
}

std::string RenderFilterIni(const std::vector<FilterRule>& rules) {
  std::string out;
  for (const FilterRule& rule : rules) {
    out += '"' + rule.tag + "\",\"" + rule.header_word + "\",\"" + rule.pattern + '"';
    out += kCrLf;
  }
  return out;
}

void WriteFilterIni(const std::filesystem::path& path, const std::vector<FilterRule>& rules) {
  WriteFile(path, RenderFilterIni(rules));
}

}  // namespace sample
