#include <gtest/gtest.h>

#include "shared/LocalDateText.h"

namespace {

TEST(RecogniseLocalDate, AcceptsNumericDatesInTheLocaleOrderAndIso) {
  const auto MDY = DateOrder::kMonthDayYear, DMY = DateOrder::kDayMonthYear, YMD = DateOrder::kYearMonthDay;
  // The expected date, "" when the text is not a date.
  struct Case { const char* text; DateOrder order; const char* expected; } cases[] = {
      {"12/06/2026 14:03:22", MDY, "~2026/12/06 14:03:22"},    {"12/06/26 14:03:22", MDY, "~2026/12/06 14:03:22"},
      {"06.12.2026 14:03", DMY, "~2026/12/06 14:03:00"},       {"06.12.2026", DMY, "~2026/12/06 00:00:00"},
      {"6/12/99", DMY, "~1999/12/06 00:00:00"},                {"1/2/30", MDY, "~1930/01/02 00:00:00"},
      {"1/2/29", MDY, "~2029/01/02 00:00:00"},                 {"26/12/06 01:02:03", YMD, "~2026/12/06 01:02:03"},
      {"2026-12-06T14:03:22", DMY, "~2026/12/06 14:03:22"},    {"2026-12-06 02:03:04 PM", MDY, "~2026/12/06 14:03:04"},
      {"12/06/2026 12:00:00 AM", MDY, "~2026/12/06 00:00:00"}, {"  02/29/2024 23:59:59  ", MDY, "~2024/02/29 23:59:59"},
      {"02/29/2023", MDY, ""},         {"13/01/2026", MDY, ""},       {"12/06/2026 24:00", MDY, ""},
      {"12/06/2026 13:00 PM", MDY, ""}, {"12/06/2026 10:60", MDY, ""}, {"12/06/2026 10:59:60", MDY, ""},
      {"12/06/2026 012:00", MDY, ""},  {"12/06-2026", MDY, ""},       {"12/06", MDY, ""},
      {"26/012/06", YMD, ""},  // a valid month, but three digits
      {"2026-012-06", DMY, ""},
      {"12/06/2026 14:03:22 extra", MDY, ""}, {"Sun, 6 Dec 2026 14:03:22 +0100", MDY, ""},
      {"06.12.2026. 14:03", DMY, "~2026/12/06 14:03:00"}, {"12/06/2026 1:05 am", MDY, "~2026/12/06 01:05:00"},
      {"12/06/2026.", MDY, ""},  // the closing dot only after dots
      {"12/06/2026x", MDY, ""},        {"", MDY, ""},                   {"Q 2 smtp", MDY, ""},
  };
  for (const Case& c : cases) {
    std::optional<DateTime> d = RecogniseLocalDate(c.text, c.order);
    EXPECT_EQ(d ? SortableDateText(*d) : "", c.expected) << c.text;
  }
}

}  // namespace
