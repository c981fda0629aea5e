#include "shared/Module_MySafeRename.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string_view>

#include "platform/FileSystem.h"
#include "platform/SplitMix.h"
#include "platform/Text.h"

namespace {

constexpr std::string_view kSymbols = "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
constexpr std::uint64_t kTestStart = 0x4B657374'72616E65ULL;
// Past this many taken candidates the search stops and the rename is tried
// with the last one; the no-replace rename then fails safely if it is taken.
constexpr int kMaxCandidates = 10000;

// A state of its own for every process: two passes that start together
// (three sievbat runs from a timer, the viewer beside them) would otherwise
// all draw the same names and collide on every one of them.
std::uint64_t ProcessStart() {
  std::uint64_t seed = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  seed ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) << 17;
  try {
    std::random_device device;
    seed ^= (static_cast<std::uint64_t>(device()) << 32) ^ device();
  } catch (const std::exception&) {
    // No random device: the clocks alone still differ between processes.
  }
  return seed;
}

std::uint64_t& GeneratorState() {
  static std::uint64_t state = ProcessStart();
  return state;
}

// A portable sequence of values in [0, 1).
double NextRandom() {
  std::uint64_t z = platform::SplitMix64(GeneratorState());
  return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
}

// A message's files held under our programs' lock while they move or go.
struct LockedPair {
  std::optional<std::string> companion;  // of the header, looked up once it was locked
  std::unique_ptr<platform::MessageLock> header_lock, companion_lock;
};

// Locks the header file `header` and then its companion. Nullopt when
// another of our programs holds either: it is moving or changing the
// message. A file that has gone, or that cannot be opened to lock it, is
// left to the caller's own checks, as it was before there were locks.
std::optional<LockedPair> LockPair(platform::FileSystem& fs, const std::string& header) {
  using platform::LockResult;
  LockedPair pair;
  if (fs.LockMessage(header, &pair.header_lock) == LockResult::kBusy) return std::nullopt;
  pair.companion = fs.FindCompanion(header);
  if (pair.companion && fs.LockMessage(*pair.companion, &pair.companion_lock) == LockResult::kBusy) {
    return std::nullopt;
  }
  return pair;
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return platform::JoinPath(folder, name);
}

// The part of a file name before its first "." (all of it without one), in
// lower case.
std::string GetBaseName(const std::string& FileName) {
  return platform::AsciiLower(FileName.substr(0, FileName.find('.')));
}

// The part from the first "." to the end, dot included, in lower case; empty
// without a dot.
std::string GetExtension(const std::string& FileName) {
  std::size_t dot = FileName.find('.');
  return dot == std::string::npos ? std::string() : platform::AsciiLower(FileName.substr(dot));
}

}  // namespace

std::string NewCollisionName() {
  std::string name = "~COL";
  for (int i = 0; i < 4; ++i) {
    auto index = static_cast<std::size_t>(NextRandom() * static_cast<double>(kSymbols.size()));
    name += kSymbols[index];
  }
  return name;
}

void ResetCollisionNameGenerator() { GeneratorState() = kTestStart; }

std::optional<std::string> SafeRenameMessage(const std::string& SourceFolder, const std::string& TargetFolder,
                                             const std::string& FileName) {
  platform::FileSystem& fs = platform::Host();
  if (!fs.PathExists(SourceFolder) || !fs.PathExists(TargetFolder)) return std::nullopt;

  std::string base = GetBaseName(FileName);
  std::string extension = GetExtension(FileName);
  // The sources keep the caller's letter case: where two names differ only
  // in case, the listed file is the one that moves.
  std::string source = InFolder(SourceFolder, FileName);

  if (extension != ".q0") {
    std::string name = base + extension;
    for (int tries = 0; tries < kMaxCandidates && fs.NameTaken(InFolder(TargetFolder, name)); ++tries) {
      name = platform::AsciiLower(NewCollisionName()) + extension;
    }
    if (!fs.RenameNoReplace(source, InFolder(TargetFolder, name))) return std::nullopt;
    return name;
  }

  // The header as it is named now (the move back restores that name), and
  // its companion, looked up while the header is still in place: once it has
  // gone, a file of another message could look like its companion.
  std::optional<std::string> header = fs.FindFile(source);
  if (!header) return std::nullopt;
  // Both files stay locked until both have moved: another of our programs
  // that lists the target folder meanwhile finds the header locked and
  // leaves it alone, rather than take it for a header without a body and
  // move it on; one that comes for the body left behind finds that locked.
  std::optional<LockedPair> pair = LockPair(fs, *header);
  if (!pair) return std::nullopt;
  const std::optional<std::string>& companion = pair->companion;
  std::string candidate = base;
  for (int tries = 0; tries < kMaxCandidates; ++tries) {
    bool taken = fs.NameTaken(InFolder(TargetFolder, candidate + ".q0")) ||
                 fs.NameTaken(InFolder(TargetFolder, candidate + ".q1"));
    // "wwwwww" is never used for a pair in a target folder.
    if (!taken && candidate != "wwwwww") break;
    candidate = platform::AsciiLower(NewCollisionName());
  }
  std::string header_target = InFolder(TargetFolder, candidate + ".q0");
  // The header first: if it cannot move, the body stays with it.
  if (!fs.RenameNoReplace(*header, header_target)) return std::nullopt;
  if (!companion || fs.RenameNoReplace(*companion, InFolder(TargetFolder, candidate + ".q1"))) {
    return candidate + ".q0";
  }
  // The body could not follow (taken name, vanished, no right): the header
  // goes back beside it, so that the pair stays together.
  fs.RenameNoReplace(header_target, *header);
  return std::nullopt;
}

bool DeleteMessageFiles(const std::string& path) {
  platform::FileSystem& fs = platform::Host();
  // A message that another of our programs is moving is left whole: its
  // header may already stand in the other folder, waiting for this body.
  std::optional<LockedPair> pair = LockPair(fs, path);
  if (!pair) return false;
  bool deleted = fs.Remove(path);
  if (pair->companion) fs.Remove(*pair->companion);
  return deleted;
}

