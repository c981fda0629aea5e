// The pair reader. The first input byte gives the bytes per read (1..64, so
// that line ends fall across reads) and the companion's length (0..3); the
// rest is the header file. Reading in small pieces must give the same record
// as reading in large ones, also with lines cut at a small length (the last
// input byte gives it), and cut lines must leave their first bytes.
#include <cstdint>
#include <string>

#include "shared/DateTime.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// What follows the first two lines (line ends: CR LF, or CR alone).
std::string_view AfterTwoLines(std::string_view text) {
  for (int line = 0; line < 2; ++line) {
    std::size_t cr = text.find('\r');
    if (cr == std::string_view::npos) return {};
    text.remove_prefix(cr + 1);
    if (text.starts_with('\n')) text.remove_prefix(1);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > fuzz::kMaxInput) return 0;
  std::size_t chunk = 1 + data[0] % 64;
  std::string q1(data[0] / 64, 'x');
  std::string q0(fuzz::AsText(data + 1, size - 1));

  auto [record, cut] = fuzz::ReadWholeAndCut(q0, q1, chunk, 14 + data[size - 1] % 48);
  // A tag read with cut lines is the value of a whole line: a CR or the end follows it.
  std::string_view headers = AfterTwoLines(q0);
  bool whole_line = cut.XSalvaged.empty();
  for (std::size_t at = headers.find(cut.XSalvaged); !whole_line && at != std::string_view::npos;
       at = headers.find(cut.XSalvaged, at + 1)) {
    std::size_t end = at + cut.XSalvaged.size();
    whole_line = end == headers.size() || headers[end] == '\r';
  }
  FUZZ_CHECK(whole_line);
  FUZZ_CHECK(record.Path == "/queue/m.q0");
  FUZZ_CHECK(record.Size == static_cast<std::int64_t>(q0.size() + q1.size()));
  // Header fields come whole from single lines after the first two.
  FUZZ_CHECK(fuzz::FieldsArePartsOf(record, headers));
  if (!record.XSalvaged.empty()) FUZZ_CHECK(fuzz::ContainsIgnoreCase(headers, "X-Salvaged: "));
  FUZZ_CHECK(SortableDateText(record.Date).size() == 20);
  return 0;
}
