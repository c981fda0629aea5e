// The salvage tag: written by the viewer, removed by the batch filter. For a
// header file that ends in CR LF and holds no tag, adding the tag and
// stripping it gives back the file byte for byte, also when the tag was
// added twice. The input is the file (CR LF is added when it lacks one).
#include <cstdint>
#include <string>

#include "batch/main_Sievbat.h"
#include "shared/Module_MySafeRename.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/platform/FakeFileSystem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > fuzz::kMaxInput) return 0;
  std::string content(fuzz::AsText(data, size));
  if (!content.ends_with("\r\n")) content += "\r\n";
  if (content.find(SalvageTagHeader) != std::string::npos) return 0;

  const std::string path = "/queue/m.q0";
  std::string tagged = content.substr(0, content.size() - 2) + std::string(SalvageTagText);
  for (int times : {1, 2}) {
    testing_host::FakeFileSystem fs;
    fs.AddFile(path, content);
    platform::ScopedHost host(fs);
    QueueFolder = "/queue";
    for (int i = 0; i < times; ++i) FUZZ_CHECK(AddSalvageTag(path));
    if (times == 1) FUZZ_CHECK(fs.Contents(path) == tagged);
    StripSalvageTag("m.q0");
    FUZZ_CHECK(fs.Contents(path) == content);
  }
  return 0;
}
