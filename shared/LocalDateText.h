// Recognises the date on line 2 of a pair header file: the numeric date of
// the locale's date order (LC_TIME), or ISO 8601, each with an optional time
// of day.
#pragma once

#include <optional>
#include <string_view>

#include "shared/DateTime.h"

enum class DateOrder { kMonthDayYear, kDayMonthYear, kYearMonthDay };

// The numeric date order of the current LC_TIME locale, read from its date
// format; month-day-year when the format says nothing clear.
DateOrder LocaleDateOrder();

// Accepted: optional blanks, a date of three numbers separated by "/", "."
// or "-" in `order` (a four-digit first number always means year first),
// optionally followed by blanks or "T" and a time "H:MM" or "H:MM:SS" with an
// optional AM/PM, then optional blanks. Two-digit years 00-29 are 2000-2029,
// 30-99 are 1930-1999. Anything else, or an impossible date, gives nullopt.
std::optional<DateTime> RecogniseLocalDate(std::string_view text, DateOrder order);
inline std::optional<DateTime> RecogniseLocalDate(std::string_view text) {
  return RecogniseLocalDate(text, LocaleDateOrder());
}
