// Header texts as operators read them: the encoded words of RFC 2047
// ("=?ISO-8859-1?Q?f=FCr?=", "=?UTF-8?B?...?=") decoded. The stored record
// and the rules keep the raw text; only the decoded view of the grid and
// `qvue --list --decode` use this.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The most bytes the decoded text takes per byte of the raw text: a byte of
// a single-byte charset or of Windows-1252 becomes at most a three-byte
// UTF-8 sequence, and a word whose decoded text would take more stays raw.
inline constexpr std::size_t kDecodedBytesPerRawByte = 3;

// `text` with its encoded words decoded, as UTF-8.
//
// - Both encodings, "B" and "Q" in either letter case; in "Q" an underscore
//   is a blank. Any charset Qt knows (with ICU: the ISO-8859 family,
//   Windows code pages, KOI8, the CJK charsets, ...); a language suffix
//   ("ISO-8859-1*de") is ignored.
// - A malformed word (cut short, a bad "=XX", a character outside the
//   base64 alphabet, bytes its charset rejects) or one in an unknown charset
//   stays as it is; nothing is ever an error.
// - Adjacent words separated only by blanks and tabs, or by nothing, join:
//   the blanks between them go. Adjacent words of one charset are decoded
//   as one text, so a character split across two words (as some senders
//   split UTF-8) comes out whole.
// - Words are found anywhere in the text, also inside a quoted display name
//   and next to other characters: senders put them there, and an operator
//   wants to read them. A word longer than RFC 2047's 75 characters is
//   decoded all the same.
// - The text around the words is read as the grid reads a cell (UTF-8 when
//   the whole text is valid UTF-8, else Windows-1252) and re-encoded as
//   UTF-8, so the result is valid UTF-8 throughout. Control characters that
//   a word decodes to are not passed on: tab, CR and LF become a blank, the
//   others U+FFFD.
// - Text without a word that decodes comes back unchanged, byte for byte.
//
// The result is never longer than kDecodedBytesPerRawByte * text.size().
std::string DecodeEncodedWords(std::string_view text);
