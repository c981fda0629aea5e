#include <gtest/gtest.h>

#include <string>

#include "shared/Module_InternetTime.h"

namespace {

const char* const kUnreadable = "~1601/01/01 00:00:00";

std::string Parsed(const std::string& text) { return SortableDateText(ParseInternetDate(text)); }

TEST(InternetDate, ReadsDatesAndAppliesTheZone) {
  struct Case { const char* text; const char* expected; } cases[] = {
      {"Thu, 5 Mar 2004 14:07:09 +0100", "~2004/03/05 13:07:09"},   {"5 Mar 2004 14:07", "~2004/03/05 14:07:00"},
      {"Thu, 5 Mar 2004 14:07:09 -0500", "~2004/03/05 19:07:09"},   {"5 Mar 2004 14:07 Z", "~2004/03/05 14:07:00"},
      {"Fri, 5 Mar 2004 9:07:09 +0530", "~2004/03/05 03:37:09"},    {"1 Jan 49 00:00 +0000", "~2049/01/01 00:00:00"},
      {"5 Mar 2004 14:07 +0100 (CET) \r\n", "~2004/03/05 13:07:00"}, {"5 Mar 2004 14:07 CET", "~2004/03/05 14:07:00"},
      {"05 mAR 2004 09:07:09 -0000", "~2004/03/05 09:07:09"},       {"1 Jan 50 00:00 +0000", "~1950/01/01 00:00:00"},
      {"5 Mar 2004 14:07 +0100 CET", "~2004/03/05 13:07:00"},       {"1 Jan 104 00:00 +0000", "~2004/01/01 00:00:00"},
      {"31 Dec 2016 23:59:60 +0000", "~2016/12/31 23:59:59"},       {"1 Jan 2000 00:30 +0100", "~1999/12/31 23:30:00"},
      {"1 Mar 2023 01:00 +0200", "~2023/02/28 23:00:00"},           {"29 Feb 2024 23:00 -0200", "~2024/03/01 01:00:00"},
      {"1 Jan 02004 00:00 +0000", "~2004/01/01 00:00:00"},          {"31 Dec 1999 23:30 -0100", "~2000/01/01 00:30:00"},
      {"1 Jan 0000 00:30 +0000", "~0000/01/01 00:30:00"},
      {"(x) Thu (y) , (z) 5 Mar 2004 14 : 07 : 09 (a (b \\) c)) +0100 (d)", "~2004/03/05 13:07:09"},
      {"Thu,\r\n 5\r\n\tMar 2004\n 14:07:09 +0100", "~2004/03/05 13:07:09"},
      {"Thu,5Mar2004 14:07:09+0100", "~2004/03/05 13:07:09"},
      {"Mon, 5 Mar 2004 14:07:09 +0000", "~2004/03/05 14:07:09"},  // wrong weekday is ignored
      // Zone names in any letter case.
      {"5 Mar 2004 12:00 UT", "~2004/03/05 12:00:00"},  {"5 Mar 2004 12:00 gmt", "~2004/03/05 12:00:00"},
      {"5 Mar 2004 12:00 EST", "~2004/03/05 17:00:00"}, {"5 Mar 2004 12:00 Edt", "~2004/03/05 16:00:00"},
      {"5 Mar 2004 12:00 CST", "~2004/03/05 18:00:00"}, {"5 Mar 2004 12:00 cdt", "~2004/03/05 17:00:00"},
      {"5 Mar 2004 12:00 MST", "~2004/03/05 19:00:00"}, {"5 Mar 2004 12:00 MDT", "~2004/03/05 18:00:00"},
      {"5 Mar 2004 12:00 PST", "~2004/03/05 20:00:00"}, {"5 Mar 2004 12:00 pDT", "~2004/03/05 19:00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(Parsed(c.text), c.expected) << c.text;
}

TEST(InternetDate, UnreadableFormsGive1601) {
  const char* cases[] = {
      "", "   ", "garbage", "Thu 5 Mar 2004 14:07 +0100", "Thx, 5 Mar 2004 14:07 +0100",
      ", 5 Mar 2004 14:07", "Thursday, 5 Mar 2004 14:07", "31 Apr 2004 14:07", "29 Feb 2023 14:07",
      "0 Mar 2004 14:07", "5 Mrz 2004 14:07", "5 March 2004 14:07", "5 Mar 2004 24:00", "5 Mar 2004 14:60",
      "5 Mar 2004 14:07:61", "5 Mar 2004 14:7", "5 Mar 2004 14.07", "5 Mar 2004", "5 Mar 4 14:07", "005 Mar 2004 14:07",
      "5 Mar 10000 14:07", "5 Mar 200414:07", "5 Mar 2004 14:07 +100", "5 Mar 2004 14:07 +01000",
      "5 Mar 2004 14:07 +0160", "5 Mar 2004 14:07 + 0100", "5 Mar 2004 14:07 GMT CET",
      "5 Mar 2004 14:07 +0100 CET x", "5 Mar 2004 14:07 +0100 (open",
      "5 Mar 2004 14:07 +0100 CET (open", "5 Mar 2004 14:07 (\\)",
      "5 Mar 2004 14:07 +0100\r\nX: y", "5 Mar 2004 14:07 +0100\r\n\r\n", "5 Mar 2004 14:07 +0100 x1",
      "31 Dec 9999 23:30 -0100", "1 Jan 0000 00:30 +0100",
  };
  for (const char* c : cases) EXPECT_EQ(Parsed(c), kUnreadable) << c;
  EXPECT_EQ(Parsed(std::string("5 Mar 2004 14:07\0", 17)), kUnreadable);
}

// Comments nested a million deep: no recursion that could overflow the stack.
TEST(InternetDate, DeepCommentsAreSafe) {
  const std::size_t n = 1000000;
  const std::string date = "5 Mar 2004 14:07 +0100 ";
  EXPECT_EQ(Parsed(date + std::string(n, '(') + std::string(n, ')')), "~2004/03/05 13:07:00");
  EXPECT_EQ(Parsed(date + std::string(n, '(') + std::string(n - 1, ')')), kUnreadable);
}

}  // namespace
