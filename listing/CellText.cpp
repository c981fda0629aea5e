#include "listing/CellText.h"

namespace {

// Windows-1252 at 0x80-0x9F; the rest of the high half is Latin-1. The five
// unassigned bytes (81 8D 8F 90 9D) stay the C1 controls of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// 0: plain ASCII, 1: valid UTF-8 with multi-byte sequences, -1: not UTF-8.
int Utf8Kind(std::string_view bytes) {
  int kind = 0;
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n;) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    // The length, and the range of the second byte that keeps out overlong
    // forms (E0, F0), surrogates (ED) and code points above U+10FFFF (F4).
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return -1;
    }
    if (n - i < length) return -1;
    auto second = static_cast<unsigned char>(bytes[i + 1]);
    if (second < low || second > high) return -1;
    for (std::size_t k = 2; k < length; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return -1;
    }
    i += length;
    kind = 1;
  }
  return kind;
}

QString Windows1252(std::string_view bytes) {
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (char byte : bytes) {
    auto c = static_cast<unsigned char>(byte);
    *out++ = (c >= 0x80 && c < 0xA0) ? QChar(kCp1252High[c - 0x80]) : QChar(c);
  }
  return text;
}

}  // namespace

CellCharset CellCharsetOf(std::string_view bytes) {
  return Utf8Kind(bytes) < 0 ? CellCharset::kWindows1252 : CellCharset::kUtf8;
}

QString DecodeCellBytes(std::string_view bytes, CellCharset charset) {
  if (charset == CellCharset::kWindows1252) return Windows1252(bytes);
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString DecodeCellText(std::string_view bytes) {
  const auto size = static_cast<qsizetype>(bytes.size());
  switch (Utf8Kind(bytes)) {
    case 0: return QString::fromLatin1(bytes.data(), size);
    case 1: return QString::fromUtf8(bytes.data(), size);
    default: return Windows1252(bytes);
  }
}
