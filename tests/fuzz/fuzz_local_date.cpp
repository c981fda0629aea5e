// Local dates (line 2 of a pair header file), in each date order. A date that
// is recognised must be recognised again, with the same value, when written
// as "MM/DD/YYYY HH:MM:SS", and when blanks surround it.
#include <cstdint>
#include <cstdio>
#include <string>

#include "shared/LocalDateText.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzz::kMaxInput) return 0;
  std::string text(fuzz::AsText(data, size));

  for (DateOrder order : {DateOrder::kMonthDayYear, DateOrder::kDayMonthYear, DateOrder::kYearMonthDay}) {
    std::optional<DateTime> value = RecogniseLocalDate(text, order);
    if (!value) continue;
    FUZZ_CHECK(SortableDateText(*value).size() == 20);
    CivilTime t = value->ToCivil();
    FUZZ_CHECK(t.year >= 100 && t.year <= 9999);
    char plain[64];
    std::snprintf(plain, sizeof plain, "%02d/%02d/%04d %02d:%02d:%02d", t.month, t.day, t.year, t.hour, t.minute,
                  t.second);
    FUZZ_CHECK(RecogniseLocalDate(plain, DateOrder::kMonthDayYear) == value);
    FUZZ_CHECK(RecogniseLocalDate(" \t" + text + "\t ", order) == value);
  }
  return 0;
}
