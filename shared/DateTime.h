// The date-time value of a message: whole seconds on the proleptic Gregorian
// calendar, counted from 30 December 1899 00:00:00, which is the zero date
// and stands for "no date".
#pragma once

#include <compare>
#include <cstdint>
#include <string>

// The calendar fields of a DateTime, as DateTime::ToCivil gives them.
struct CivilTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

class DateTime {
 public:
  constexpr DateTime() = default;
  static DateTime FromSeconds(std::int64_t seconds_since_zero) {
    DateTime d;
    d.seconds_ = seconds_since_zero;
    return d;
  }
  // Fields out of range are not checked here; callers validate first.
  static DateTime FromCivil(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

  std::int64_t Seconds() const { return seconds_; }
  CivilTime ToCivil() const;
  DateTime PlusSeconds(std::int64_t delta) const { return FromSeconds(seconds_ + delta); }

  auto operator<=>(const DateTime&) const = default;

 private:
  std::int64_t seconds_ = 0;
};

bool IsValidCivilDate(int year, int month, int day);

// "~YYYY/MM/DD HH:NN:SS": 20 characters, ordered like the dates themselves.
std::string SortableDateText(const DateTime& value);
