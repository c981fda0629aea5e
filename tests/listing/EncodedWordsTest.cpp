#include <gtest/gtest.h>

#include <string>

#include "listing/EncodedWords.h"

namespace {

TEST(EncodedWordsTest, DecodesTheWordsOfRfc2047AndLeavesTheRestAsTheGridShowsIt) {
  const std::string long_text(120, 'a');
  const struct { const char* what; std::string raw, shown; } cases[] = {  // shown: UTF-8
      {"Q, upper case", "=?ISO-8859-1?Q?Schnelltest_f=FCr?= dich", "Schnelltest f\u00fcr dich"},
      {"q and hex digits in lower case", "=?iso-8859-1?q?f=fcr?=", "f\u00fcr"},
      {"B", "=?UTF-8?B?w5xiZXJzaWNodA==?=", "\u00dcbersicht"},
      {"b, padding left out", "=?utf-8?b?w5xiZXJzaWNodA?=", "\u00dcbersicht"},
      {"ISO-8859-2", "=?ISO-8859-2?B?o/NkvA==?=", "\u0141\u00f3d\u017a"},
      {"ISO-8859-15 has the euro sign where -1 has the currency sign", "=?ISO-8859-15?Q?=A4?= =?ISO-8859-1?Q?=A4?=",
       "\u20ac\u00a4"},
      {"Windows-1252", "=?windows-1252?Q?=93Hi=94?=", "\u201cHi\u201d"},
      {"KOI8-R", "=?KOI8-R?B?8NLJ18XU?=", "\u041f\u0440\u0438\u0432\u0435\u0442"},
      {"a language suffix", "=?US-ASCII*EN?Q?Keith_Moore?=", "Keith Moore"},
      {"an unknown charset stays", "=?x-no-such-set?Q?abc?= =?UTF-8?Q?d?=", "=?x-no-such-set?Q?abc?= d"},
      {"a word cut in the middle stays", "Re: =?UTF-8?Q?caf=C3=A9", "Re: =?UTF-8?Q?caf=C3=A9"},
      {"a bad =XX stays", "=?UTF-8?Q?caf=C?=", "=?UTF-8?Q?caf=C?="},
      {"a character outside base64 stays", "=?UTF-8?B?w6k*?=", "=?UTF-8?B?w6k*?="},
      {"an unknown encoding stays", "=?UTF-8?X?abc?=", "=?UTF-8?X?abc?="},
      {"bytes the charset rejects stay", "=?UTF-8?Q?=FF?=", "=?UTF-8?Q?=FF?="},
      {"an over-long word is decoded", "=?UTF-8?Q?" + long_text + "?=", long_text},
      {"blanks between adjacent words go", "=?UTF-8?Q?a?= \t =?ISO-8859-1?Q?b?=", "ab"},
      {"adjacent words without blanks join", "=?UTF-8?Q?a?==?UTF-8?Q?b?=", "ab"},
      {"a character split across two words", "=?UTF-8?Q?caf=C3?= =?UTF-8?Q?=A9?=", "caf\u00e9"},
      {"blanks next to other text stay", "Re: =?UTF-8?Q?a?= b =?UTF-8?Q?c?=", "Re: a b c"},
      {"blanks around a word that stays stay", "=?UTF-8?Q?a?= =?UTF-8?Q?=ZZ?= =?UTF-8?Q?b?=",
       "a =?UTF-8?Q?=ZZ?= b"},
      {"inside a quoted display name", "\"=?ISO-8859-1?Q?J=FCrgen_M=FCller?=\" <jm@example.org>",
       "\"J\u00fcrgen M\u00fcller\" <jm@example.org>"},
      {"Windows-1252 text around a word", "Gr\xFC\xDF =?UTF-8?Q?=C3=A9?=", "Gr\u00fc\u00df \u00e9"},
      {"controls a word decodes to", "=?UTF-8?Q?a=0Ab=1B=00?=", "a b\ufffd\ufffd"},
      {"no word: the bytes as they are", "Caf\xE9 =? ?= =?", "Caf\xE9 =? ?= =?"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeEncodedWords(c.raw), c.shown) << c.what;
}

}  // namespace
