// The decoder of encoded words (the viewer's "Decoded Headers"). Any bytes:
// no crash and no read past the input (the sanitizers watch); text without
// "=?" comes back unchanged; a changed text is valid UTF-8; and the bound:
// the output is never longer than kDecodedBytesPerRawByte (3) times the
// input.
#include <cstdint>
#include <string>

#include "tests/fuzz/FuzzSupport.h"
#include "listing/CellText.h"
#include "listing/EncodedWords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzz::kMaxInput) return 0;
  std::string_view text = fuzz::AsText(data, size);
  std::string decoded = DecodeEncodedWords(text);
  FUZZ_CHECK(decoded.size() <= kDecodedBytesPerRawByte * text.size());
  if (text.find("=?") == std::string_view::npos) FUZZ_CHECK(decoded == text);
  if (decoded != text) FUZZ_CHECK(CellCharsetOf(decoded) == CellCharset::kUtf8);
  return 0;
}
