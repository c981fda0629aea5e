#pragma once

#include <string>

#include "shared/DateTime.h"

// The value of a "Date: " header (the text after the prefix) as a UTC
// date-time, e.g. "Thu, 5 Mar 2004 14:07:09 +0100" gives 2004-03-05 13:07:09.
// Text it cannot read gives UnreadableInternetDate(); never throws. The forms
// accepted are listed at the top of Module_InternetTime.cpp.
DateTime ParseInternetDate(const std::string& text);

// 1 January 1601 00:00:00: the value of a date header that cannot be read.
DateTime UnreadableInternetDate();
