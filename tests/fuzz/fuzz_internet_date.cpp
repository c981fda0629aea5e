// Internet dates ("Date: " header values). A date that reads must keep its
// value when written back in the plain form, and when a comment follows it.
#include <cstdint>
#include <cstdio>
#include <string>

#include "shared/Module_InternetTime.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzz::kMaxInput) return 0;
  std::string text(fuzz::AsText(data, size));

  DateTime value = ParseInternetDate(text);
  FUZZ_CHECK(ParseInternetDate(text) == value);
  CivilTime t = value.ToCivil();
  FUZZ_CHECK(t.year >= 0 && t.year <= 9999);
  FUZZ_CHECK(SortableDateText(value).size() == 20);
  if (value == UnreadableInternetDate()) return 0;

  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char plain[64];
  std::snprintf(plain, sizeof plain, "%d %s %04d %02d:%02d:%02d +0000", t.day, kMonths[t.month - 1], t.year, t.hour,
                t.minute, t.second);
  FUZZ_CHECK(ParseInternetDate(plain) == value);
  FUZZ_CHECK(ParseInternetDate(text + " (comment)") == value);
  return 0;
}
