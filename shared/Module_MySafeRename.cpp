#include "shared/Module_MySafeRename.h"

#include <cstdint>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace {

constexpr std::string_view kSymbols = "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
constexpr std::uint64_t kGeneratorStart = 0x4B657374'72616E65ULL;
// Past this many taken candidates the search stops and the rename is tried
// with the last one; the no-replace rename then fails safely if it is taken.
constexpr int kMaxCandidates = 10000;

std::uint64_t generator_state = kGeneratorStart;

// splitmix64: a fixed, portable sequence of values in [0, 1).
double NextRandom() {
  std::uint64_t z = (generator_state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return folder + std::string(platform::kSep) + name;
}

}  // namespace

std::string GetBaseName(const std::string& FileName) {
  return platform::AsciiLower(FileName.substr(0, FileName.find('.')));
}

std::string GetExtension(const std::string& FileName) {
  std::size_t dot = FileName.find('.');
  return dot == std::string::npos ? std::string() : platform::AsciiLower(FileName.substr(dot));
}

std::string NewCollisionName() {
  std::string name = "~COL";
  for (int i = 0; i < 4; ++i) {
    auto index = static_cast<std::size_t>(NextRandom() * static_cast<double>(kSymbols.size()));
    name += kSymbols[index];
  }
  return name;
}

void ResetCollisionNameGenerator() { generator_state = kGeneratorStart; }

std::string SafeRenameMessage(const std::string& SourceFolder, const std::string& TargetFolder,
                              const std::string& FileName) {
  platform::FileSystem& fs = platform::Host();
  if (!fs.PathExists(SourceFolder) || !fs.PathExists(TargetFolder)) return {};

  std::string base = GetBaseName(FileName);
  std::string extension = GetExtension(FileName);

  if (extension != ".q0") {
    std::string target = InFolder(TargetFolder, base + extension);
    for (int tries = 0; tries < kMaxCandidates && fs.FileExists(target); ++tries) {
      target = InFolder(TargetFolder, platform::AsciiLower(NewCollisionName()) + extension);
    }
    if (!fs.RenameNoReplace(InFolder(SourceFolder, FileName), target)) return {};
    return target.substr(TargetFolder.size() + 1);
  }

  std::string candidate = base;
  for (int tries = 0; tries < kMaxCandidates; ++tries) {
    bool taken = fs.FileExists(InFolder(TargetFolder, candidate + ".q0")) ||
                 fs.FileExists(InFolder(TargetFolder, candidate + ".q1"));
    // "wwwwww" is never used for a pair in a target folder.
    if (!taken && candidate != "wwwwww") break;
    candidate = platform::AsciiLower(NewCollisionName());
  }
  // The sources keep the caller's letter case: where two names differ only
  // in case, the listed file is the one that moves.
  std::string source_stem = FileName.substr(0, FileName.size() - 3);
  bool header_moved = fs.RenameNoReplace(InFolder(SourceFolder, FileName), InFolder(TargetFolder, candidate + ".q0"));
  bool body_moved =
      fs.RenameNoReplace(InFolder(SourceFolder, source_stem + ".q1"), InFolder(TargetFolder, candidate + ".q1"));
  return header_moved && body_moved ? candidate + ".q0" : std::string();
}

bool AddSalvageTag(const std::string& path) {
  // One open file for every step, so that a move of the message meanwhile
  // cannot split the tag between two files.
  std::unique_ptr<platform::FileHandle> file = platform::Host().OpenReadWrite(path);
  if (!file) return false;
  std::optional<std::uint64_t> length = file->Size();
  if (!length || *length < 2) return false;
  // The 17 bytes that grow the file go first: if they cannot be written (disk
  // full), the file is cut back to its old length and stays as it was. The
  // two bytes written over the old ending need no new space.
  if (file->WriteAt(*length, SalvageTagText.substr(2)) &&
      file->WriteAt(*length - 2, SalvageTagText.substr(0, 2))) {
    return true;
  }
  file->Truncate(*length);
  return false;
}
