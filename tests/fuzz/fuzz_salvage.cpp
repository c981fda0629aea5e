// The salvage tag: written by the viewer, removed by the batch filter.
// - For a header file that ends with an empty line and holds no tag line,
//   adding the tag and stripping it gives back the file byte for byte, also
//   when the tag was added twice.
// - A tag line put at any line start from line 3 on, its letters in any
//   case, is removed alone: the strip gives back the file without it.
// - Whatever the file, the strip only takes bytes away, whole tag lines, and
//   every header but the tag reads the same afterwards.
// The input is the file; its first byte picks where the tag line goes and
// how its letters are written.
#include <cstdint>
#include <string>

#include "batch/main_Sievbat.h"
#include "shared/Module_SalvageTag.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/platform/FakeFileSystem.h"

namespace {

const std::string kPath = "/queue/m.q0";

// The header after the batch filter's strip (of a pair) or the viewer's tag
// (written through the host as the window writes it); neither leaves a file
// of its own behind.
std::string Changed(const std::string& content, bool strip) {
  testing_host::FakeFileSystem fs;
  fs.AddFile(kPath, content);
  if (strip) fs.AddFile("/queue/m.q1", "b");
  strip ? StripSalvageTag("/queue", "m.q0") : AddSalvageTag(kPath);
  FUZZ_CHECK(fs.Files().size() == (strip ? 2u : 1u));
  return fs.Contents(kPath);
}
std::string Stripped(const std::string& content) { return Changed(content, true); }
std::string Tagged(const std::string& content) { return Changed(content, false); }

// True when `kept` is `content` with some byte runs taken out.
bool IsSubsequence(const std::string& kept, const std::string& content) {
  std::size_t i = 0;
  for (char c : content) {
    if (i < kept.size() && kept[i] == c) ++i;
  }
  return i == kept.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > fuzz::kMaxInput) return 0;
  const std::uint8_t pick = data[0];
  std::string content(fuzz::AsText(data + 1, size - 1));

  // Any file: bytes only go, no tag line is left, the other headers stay.
  std::string after = Stripped(content);
  FUZZ_CHECK(after.size() <= content.size() && IsSubsequence(after, content));
  MessageRecord before_record = fuzz::Read(content, "b"), after_record = fuzz::Read(after, "b");
  FUZZ_CHECK(!platform::EqualsIgnoreCase(after_record.XSalvaged, "yes"));
  after_record.XSalvaged = before_record.XSalvaged;
  after_record.Size = before_record.Size;
  FUZZ_CHECK(fuzz::SameRecord(after_record, before_record));

  // A header file without tag that ends with an empty line, as the viewer
  // finds it; its first two lines are never header lines.
  if (fuzz::ContainsIgnoreCase(content, SalvageTagHeader)) return 0;
  content = "Q 1\r\n12/06/26\r\n" + content;
  if (!content.ends_with("\r\n\r\n")) content += "\r\n\r\n";

  // The viewer's tag, once and twice.
  std::string tagged = Tagged(content);
  FUZZ_CHECK(tagged == content.substr(0, content.size() - 2) + std::string(SalvageTagText));
  FUZZ_CHECK(Tagged(tagged) == tagged);
  std::string twice = tagged.substr(0, tagged.size() - 2) + std::string(SalvageTagText);
  FUZZ_CHECK(Stripped(tagged) == content);
  FUZZ_CHECK(Stripped(twice) == content);

  // A tag line of the sender's, after the (pick % 8 + 2)-th CR LF.
  std::size_t at = 0;
  for (int ends = 0; ends < pick % 8 + 2; ++ends) {
    at = content.find("\r\n", at);
    if (at == std::string::npos) return 0;
    at += 2;
  }
  std::string line(SalvageTagHeader);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if ((pick >> (i % 8)) & 1) line[i] = platform::AsciiUpper(line[i]);
  }
  FUZZ_CHECK(Stripped(content.substr(0, at) + line + "\r\n" + content.substr(at)) == content);
  return 0;
}
