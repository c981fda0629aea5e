// Reads the date-time of a "Date: " header, RFC 5322 section 3.3 including
// the obsolete forms of section 4.3:
//
//   [day-name ","] day month year hour ":" minute [":" second] [zone]
//
// - Comments "( ... )" (nested, with "\" quoting the next byte) and folding
//   white space (blanks, tabs, CR LF or LF followed by a blank or tab) may
//   stand before and after every token, also around "," and ":". Tokens of
//   different kinds need no white space between them ("5Mar2004"); digit runs
//   that touch are read as one number and so fail. Inside a comment every
//   byte other than "(", ")" and "\" is taken as it is.
// - Day name: Mon..Sun in any letter case, always followed by ",". A day name
//   that does not fit the date is ignored: the date itself is what sorts the
//   queue, and mailers that get the weekday wrong are common enough.
// - Day: 1 or 2 digits. Month: Jan..Dec in any letter case. Year: 4 or more
//   digits as written (0..9999); 2 digits 00-49 are 2000-2049, 50-99 are
//   1950-1999; 3 digits are 1900 plus the number.
// - Time: hour of 1 or 2 digits (0-23; some old mailers drop the leading
//   zero), minute and second of 2 digits (0-59). Second 60 (a leap second)
//   is read as 59, so the date stays in the minute and day the sender wrote.
// - Zone: "+hhmm" or "-hhmm" (hh 00-99, mm 00-59; "-0000" is zero), or a name:
//   UT, GMT, EST/EDT, CST/CDT, MST/MDT, PST/PDT in any letter case. Any other
//   word, the one-letter military zones among them (their signs were
//   inverted in the older standard, so their offsets cannot be trusted), is
//   read as +0000. A missing zone is read as +0000 too.
// - A numeric zone may be followed by one word ("+0100 CET"), which is
//   ignored: many mailers add the zone name that way without a comment.
// - After the zone only comments and white space may follow, and one line end
//   (CR LF or LF) at the very end of the text, in case the caller kept it.
//
// The result is the written time minus the zone offset, in UTC. Anything
// else, an impossible date or time (31 Apr, 29 Feb 2023, hour 24), a result
// outside the years 0..9999, or an unterminated comment gives 1 January 1601.
// The text is read in one pass without recursion, so any bytes of any length
// and nesting depth are safe and take linear time.
#include "shared/Module_InternetTime.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace {

constexpr int kSecondsPerHour = 3600;

// A number is kept up to this value; larger ones are saturated, which is
// enough to reject them all.
constexpr int kNumberCap = 100000;

constexpr std::array<std::string_view, 7> kDayNames = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
constexpr std::array<std::string_view, 12> kMonthNames = {"jan", "feb", "mar", "apr", "may", "jun",
                                                          "jul", "aug", "sep", "oct", "nov", "dec"};

struct ZoneName {
  std::string_view name;
  int hours;
};
constexpr std::array<ZoneName, 10> kZoneNames = {{{"ut", 0},
                                                  {"gmt", 0},
                                                  {"est", -5},
                                                  {"edt", -4},
                                                  {"cst", -6},
                                                  {"cdt", -5},
                                                  {"mst", -7},
                                                  {"mdt", -6},
                                                  {"pst", -8},
                                                  {"pdt", -7}}};

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// `lower_name` is in lower case already.
bool EqualsIgnoreCase(std::string_view word, std::string_view lower_name) {
  if (word.size() != lower_name.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (LowerAscii(word[i]) != lower_name[i]) return false;
  }
  return true;
}

// Index of `word` in `names`, nullopt when it is none of them.
template <std::size_t N>
std::optional<int> IndexOf(std::string_view word, const std::array<std::string_view, N>& names) {
  for (std::size_t i = 0; i < N; ++i) {
    if (EqualsIgnoreCase(word, names[i])) return static_cast<int>(i);
  }
  return std::nullopt;
}

int NamedZoneSeconds(std::string_view word) {
  for (const ZoneName& zone : kZoneNames) {
    if (EqualsIgnoreCase(word, zone.name)) return zone.hours * kSecondsPerHour;
  }
  return 0;
}

struct Number {
  int digits = 0;  // 0: no number here
  int value = 0;   // saturated at kNumberCap
};

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  bool AtEnd() const { return pos_ >= text_.size(); }

  bool Take(char c) {
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  // Skips comments and folding white space. False when a comment is not
  // closed before the end of the text.
  bool SkipCommentsAndSpace() {
    while (!AtEnd()) {
      char c = text_[pos_];
      if (IsBlank(c)) {
        ++pos_;
      } else if (c == '\r' && At(pos_ + 1) == '\n' && IsBlank(At(pos_ + 2))) {
        pos_ += 3;
      } else if (c == '\n' && IsBlank(At(pos_ + 1))) {
        pos_ += 2;
      } else if (c == '(') {
        if (!SkipComment()) return false;
      } else {
        break;
      }
    }
    return true;
  }

  // Skips one line end standing at the very end of the text.
  void SkipFinalLineEnd() {
    std::string_view rest = text_.substr(pos_);
    if (rest == "\r\n" || rest == "\n") pos_ = text_.size();
  }

  std::string_view Letters() {
    std::size_t start = pos_;
    while (!AtEnd() && IsLetter(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  Number Digits() {
    Number n;
    while (!AtEnd() && IsDigit(text_[pos_])) {
      ++n.digits;
      n.value = n.value * 10 + (text_[pos_] - '0');
      if (n.value > kNumberCap) n.value = kNumberCap;
      ++pos_;
    }
    return n;
  }

 private:
  char At(std::size_t i) const { return i < text_.size() ? text_[i] : '\0'; }

  // Stands on "(": moves past its matching ")", counting the depth instead of
  // recursing so that any nesting is safe.
  bool SkipComment() {
    std::size_t depth = 0;
    while (!AtEnd()) {
      char c = text_[pos_++];
      if (c == '\\') {
        if (AtEnd()) return false;
        ++pos_;
      } else if (c == '(') {
        ++depth;
      } else if (c == ')') {
        if (--depth == 0) return true;
      }
    }
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

struct Fields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int zone_seconds = 0;  // east of UTC
};

// Reads the optional zone and what may follow it; false on anything else.
bool ReadZoneAndEnd(Scanner& s, Fields& f) {
  char sign = s.Peek();
  if (sign == '+' || sign == '-') {
    s.Take(sign);
    Number zone = s.Digits();
    if (zone.digits != 4 || zone.value % 100 > 59) return false;
    int seconds = zone.value / 100 * kSecondsPerHour + zone.value % 100 * 60;
    f.zone_seconds = sign == '-' ? -seconds : seconds;
    if (!s.SkipCommentsAndSpace()) return false;
    if (!s.Letters().empty() && !s.SkipCommentsAndSpace()) return false;
  } else if (IsLetter(sign)) {
    f.zone_seconds = NamedZoneSeconds(s.Letters());
    if (!s.SkipCommentsAndSpace()) return false;
  }
  s.SkipFinalLineEnd();
  return s.AtEnd();
}

bool ReadFields(Scanner& s, Fields& f) {
  if (!s.SkipCommentsAndSpace()) return false;
  if (IsLetter(s.Peek())) {
    if (!IndexOf(s.Letters(), kDayNames)) return false;
    if (!s.SkipCommentsAndSpace() || !s.Take(',') || !s.SkipCommentsAndSpace()) return false;
  }

  Number day = s.Digits();
  if (day.digits < 1 || day.digits > 2 || !s.SkipCommentsAndSpace()) return false;
  f.day = day.value;

  std::optional<int> month = IndexOf(s.Letters(), kMonthNames);
  if (!month || !s.SkipCommentsAndSpace()) return false;
  f.month = *month + 1;

  Number year = s.Digits();
  if (year.digits < 2 || !s.SkipCommentsAndSpace()) return false;
  if (year.digits == 2) {
    f.year = year.value < 50 ? 2000 + year.value : 1900 + year.value;
  } else if (year.digits == 3) {
    f.year = 1900 + year.value;
  } else {
    if (year.value > 9999) return false;
    f.year = year.value;
  }

  Number hour = s.Digits();
  if (hour.digits < 1 || hour.digits > 2 || hour.value > 23) return false;
  if (!s.SkipCommentsAndSpace() || !s.Take(':') || !s.SkipCommentsAndSpace()) return false;
  f.hour = hour.value;

  Number minute = s.Digits();
  if (minute.digits != 2 || minute.value > 59 || !s.SkipCommentsAndSpace()) return false;
  f.minute = minute.value;

  if (s.Take(':')) {
    if (!s.SkipCommentsAndSpace()) return false;
    Number second = s.Digits();
    if (second.digits != 2 || second.value > 60 || !s.SkipCommentsAndSpace()) return false;
    f.second = second.value == 60 ? 59 : second.value;
  }

  return ReadZoneAndEnd(s, f);
}

}  // namespace

DateTime UnreadableInternetDate() { return DateTime::FromCivil(1601, 1, 1); }

DateTime ParseInternetDate(const std::string& text) {
  Scanner s(text);
  Fields f;
  if (!ReadFields(s, f) || !IsValidCivilDate(f.year, f.month, f.day)) return UnreadableInternetDate();
  DateTime utc =
      DateTime::FromCivil(f.year, f.month, f.day, f.hour, f.minute, f.second).PlusSeconds(-f.zone_seconds);
  int utc_year = utc.ToCivil().year;
  if (utc_year < 0 || utc_year > 9999) return UnreadableInternetDate();
  return utc;
}
