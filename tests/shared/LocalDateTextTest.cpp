#include <gtest/gtest.h>

#include "shared/LocalDateText.h"

namespace {

TEST(RecogniseLocalDate, AcceptsNumericDatesInTheLocaleOrderAndIso) {
  const auto MDY = DateOrder::kMonthDayYear, DMY = DateOrder::kDayMonthYear, YMD = DateOrder::kYearMonthDay;
  struct Case {
    const char* text;
    DateOrder order;
    const char* expected;  // nullptr: not a date
  } cases[] = {
      {"12/06/2026 14:03:22", MDY, "~2026/12/06 14:03:22"},
      {"12/06/26 14:03:22", MDY, "~2026/12/06 14:03:22"},
      {"06.12.2026 14:03", DMY, "~2026/12/06 14:03:00"},
      {"06.12.2026", DMY, "~2026/12/06 00:00:00"},
      {"06.12.2026. 14:03", DMY, "~2026/12/06 14:03:00"},
      {"12/06/2026.", MDY, nullptr},  // the closing dot only after dots
      {"6/12/99", DMY, "~1999/12/06 00:00:00"},
      {"1/2/30", MDY, "~1930/01/02 00:00:00"},
      {"1/2/29", MDY, "~2029/01/02 00:00:00"},
      {"26/12/06 01:02:03", YMD, "~2026/12/06 01:02:03"},
      {"2026-12-06T14:03:22", DMY, "~2026/12/06 14:03:22"},
      {"2026-12-06 02:03:04 PM", MDY, "~2026/12/06 14:03:04"},
      {"12/06/2026 12:00:00 AM", MDY, "~2026/12/06 00:00:00"},
      {"12/06/2026 1:05 am", MDY, "~2026/12/06 01:05:00"},
      {"  02/29/2024 23:59:59  ", MDY, "~2024/02/29 23:59:59"},
      {"02/29/2023", MDY, nullptr},
      {"13/01/2026", MDY, nullptr},
      {"12/06/2026 24:00", MDY, nullptr},
      {"12/06/2026 13:00 PM", MDY, nullptr},
      {"12/06/2026 10:60", MDY, nullptr},
      {"12/06/2026 10:59:60", MDY, nullptr},
      {"12/06/2026 012:00", MDY, nullptr},
      {"26/012/06", YMD, nullptr},  // a valid month, but three digits
      {"2026-012-06", DMY, nullptr},
      {"12/06-2026", MDY, nullptr},
      {"12/06", MDY, nullptr},
      {"12/06/2026 14:03:22 extra", MDY, nullptr},
      {"12/06/2026x", MDY, nullptr},
      {"Sun, 6 Dec 2026 14:03:22 +0100", MDY, nullptr},
      {"", MDY, nullptr},
      {"Q 2 smtp", MDY, nullptr},
  };
  for (const Case& c : cases) {
    std::optional<DateTime> d = RecogniseLocalDate(c.text, c.order);
    if (c.expected == nullptr) {
      EXPECT_FALSE(d.has_value()) << c.text;
    } else {
      ASSERT_TRUE(d.has_value()) << c.text;
      EXPECT_EQ(SortableDateText(*d), c.expected) << c.text;
    }
  }
}

}  // namespace
