#include "shared/LocalDateText.h"

#include <langinfo.h>

#include <array>
#include <optional>
#include <string>

#include "platform/Text.h"

namespace {

DateOrder OrderFromFormat(std::string_view format) {
  // Positions of the day, month and year conversions in the format.
  std::size_t day = std::string_view::npos, month = day, year = day;
  for (std::size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] != '%') continue;
    std::size_t k = i + 1;
    while (k < format.size() && (format[k] == 'E' || format[k] == 'O' || format[k] == '-' || format[k] == '_' ||
                                 format[k] == '0' || format[k] == '^' || format[k] == '#')) {
      ++k;
    }
    if (k >= format.size()) break;
    switch (format[k]) {
      case 'd': case 'e': day = std::min(day, i); break;
      case 'm': case 'b': case 'B': case 'h': month = std::min(month, i); break;
      case 'y': case 'Y': case 'C': case 'G': year = std::min(year, i); break;
      case 'D': return DateOrder::kMonthDayYear;
      case 'F': return DateOrder::kYearMonthDay;
      default: break;
    }
    i = k;
  }
  if (year < month && year < day) return DateOrder::kYearMonthDay;
  if (day < month) return DateOrder::kDayMonthYear;
  return DateOrder::kMonthDayYear;
}

class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void Skip() { ++pos_; }
  void SkipBlanks() {
    while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }
  // Reads 1..max_digits digits; returns the count read (0 when none).
  int Number(int max_digits, int* value) {
    int count = 0;
    *value = 0;
    while (!AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (++count > max_digits) return 0;
      *value = *value * 10 + (text_[pos_] - '0');
      ++pos_;
    }
    return count;
  }
  bool Word(std::string_view word) {
    if (text_.size() - pos_ < word.size() || !platform::EqualsIgnoreCase(text_.substr(pos_, word.size()), word))
      return false;
    pos_ += word.size();
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

int WindowYear(int year, int digits) {
  if (digits > 2) return year;
  return year < 30 ? 2000 + year : 1900 + year;
}

bool IsDateSeparator(char c) { return c == '/' || c == '.' || c == '-'; }

// The time of day after the date, in seconds: 0 when nothing follows the
// date, nullopt when what follows is not a valid time.
std::optional<int> ReadTimeOfDay(Cursor& in) {
  in.SkipBlanks();
  if (in.AtEnd()) return 0;
  int hour = 0, minute = 0, second = 0;
  if (in.Number(2, &hour) == 0 || in.Peek() != ':') return std::nullopt;
  in.Skip();
  if (in.Number(2, &minute) != 2) return std::nullopt;
  if (in.Peek() == ':') {
    in.Skip();
    if (in.Number(2, &second) != 2) return std::nullopt;
  }
  in.SkipBlanks();
  if (in.Word("AM")) {
    if (hour < 1 || hour > 12) return std::nullopt;
    if (hour == 12) hour = 0;
  } else if (in.Word("PM")) {
    if (hour < 1 || hour > 12) return std::nullopt;
    if (hour != 12) hour += 12;
  }
  in.SkipBlanks();
  if (!in.AtEnd() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return hour * 3600 + minute * 60 + second;
}

}  // namespace

DateOrder LocaleDateOrder() {
  const char* format = ::nl_langinfo(D_FMT);
  return OrderFromFormat(format == nullptr ? "" : format);
}

std::optional<DateTime> RecogniseLocalDate(std::string_view text, DateOrder order) {
  Cursor in(text);
  in.SkipBlanks();
  std::array<int, 3> value{}, digits{};  // of the three numbers
  char separator = '\0';
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (i > 0) {  // one separator between numbers, the same both times
      if (!IsDateSeparator(in.Peek())) return std::nullopt;
      if (separator != '\0' && in.Peek() != separator) return std::nullopt;
      separator = in.Peek();
      in.Skip();
    }
    digits[i] = in.Number(4, &value[i]);
    if (digits[i] == 0) return std::nullopt;
  }
  if (separator == '.' && in.Peek() == '.') in.Skip();  // "06.12.2026." in some locales
  if (in.Peek() == 'T' || in.Peek() == 't') in.Skip();  // ISO 8601 date-time

  int year, month, day;  // each branch sets all three or gives up
  if (digits[0] == 4) {
    year = value[0], month = value[1], day = value[2];
    if (digits[1] > 2 || digits[2] > 2) return std::nullopt;
  } else if (order == DateOrder::kYearMonthDay) {
    if (digits[0] > 2 || digits[1] > 2 || digits[2] > 2) return std::nullopt;
    year = WindowYear(value[0], digits[0]), month = value[1], day = value[2];
  } else {
    if (digits[0] > 2 || digits[1] > 2 || digits[2] == 3) return std::nullopt;
    if (order == DateOrder::kMonthDayYear) {
      month = value[0], day = value[1];
    } else {
      day = value[0], month = value[1];
    }
    year = WindowYear(value[2], digits[2]);
  }
  if (!IsValidCivilDate(year, month, day) || year < 100) return std::nullopt;
  std::optional<int> seconds_of_day = ReadTimeOfDay(in);
  if (!seconds_of_day) return std::nullopt;
  return DateTime::FromCivil(year, month, day).PlusSeconds(*seconds_of_day);
}
