#include "shared/DateTime.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t ZeroDayNumber() {
  static const std::int64_t zero =
      sys_days{year_month_day{std::chrono::year{1899}, std::chrono::month{12}, std::chrono::day{30}}}
          .time_since_epoch()
          .count();
  return zero;
}

}  // namespace

bool IsValidCivilDate(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1) return false;
  return year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                        std::chrono::day{static_cast<unsigned>(day)}}
      .ok();
}

DateTime DateTime::FromCivil(int year, int month, int day, int hour, int minute, int second) {
  std::int64_t day_number =
      sys_days{year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}}}
          .time_since_epoch()
          .count();
  return FromSeconds((day_number - ZeroDayNumber()) * kSecondsPerDay + hour * 3600LL + minute * 60LL + second);
}

CivilTime DateTime::ToCivil() const {
  const std::chrono::seconds since_zero{seconds_};
  const days day_offset = std::chrono::floor<days>(since_zero);  // down, also before the zero date
  const std::int64_t in_day = (since_zero - day_offset).count();
  year_month_day ymd{sys_days{day_offset + days{ZeroDayNumber()}}};
  return CivilTime{static_cast<int>(ymd.year()),
                   static_cast<int>(static_cast<unsigned>(ymd.month())),
                   static_cast<int>(static_cast<unsigned>(ymd.day())),
                   static_cast<int>(in_day / 3600),
                   static_cast<int>(in_day / 60 % 60),
                   static_cast<int>(in_day % 60)};
}

std::string SortableDateText(const DateTime& value) {
  CivilTime t = value.ToCivil();
  // Years outside 0..9999 cannot occur from our parsers; clamp so the text
  // keeps its fixed width whatever the value.
  int year = std::clamp(t.year, 0, 9999);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "~%04d/%02d/%02d %02d:%02d:%02d", year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buffer;
}
