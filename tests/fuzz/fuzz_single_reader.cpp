// The one-file reader. The first input byte gives the bytes per read
// (1..64); the rest is the message file. Fields come only from the header
// block, which ends at the first empty line, and reading in small pieces
// gives the same record as reading in large ones, also with lines cut at a
// small length (the last input byte gives it), which keeps their first bytes.
#include <cstdint>
#include <string>

#include "shared/DateTime.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// The text before the first empty line (line ends: CR LF, or CR alone).
std::string_view HeaderBlock(std::string_view text) {
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') continue;
    if (i == line_start) return text.substr(0, i);
    line_start = i + 1 < text.size() && text[i + 1] == '\n' ? i + 2 : i + 1;
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > fuzz::kMaxInput) return 0;
  std::size_t chunk = 1 + data[0] % 64;
  std::string text(fuzz::AsText(data + 1, size - 1));

  auto [record, cut] = fuzz::ReadWholeAndCut(text, std::nullopt, chunk, 14 + data[size - 1] % 48);
  FUZZ_CHECK(record.Size == static_cast<std::int64_t>(text.size()));
  std::string_view block = HeaderBlock(text);
  FUZZ_CHECK(fuzz::FieldsArePartsOf(record, block));
  // The one-file reader never fills these.
  FUZZ_CHECK(record.ReplyTo.empty() && record.Cc.empty() && record.Bcc.empty() && record.XSalvaged.empty());
  if (!fuzz::ContainsIgnoreCase(block, "Date: ")) FUZZ_CHECK(record.Date == DateTime());
  FUZZ_CHECK(SortableDateText(record.Date).size() == 20);
  return 0;
}
