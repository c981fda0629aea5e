#include "shared/Module_MySafeRename.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string_view>
#include <vector>

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

constexpr std::string_view kDeletedPrefix = ".~kqdel.";

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

namespace {

// A file that is not a header moves alone, under its lower-case name or, when
// that is taken, under a fresh collision name.
std::optional<std::string> MoveSingleFile(platform::FileSystem& fs, const std::string& source,
                                          platform::TargetFolder& target, const std::string& base,
                                          const std::string& extension) {
  std::string name = base + extension;
  for (int tries = 0; tries < kMaxCandidates && fs.NameTakenIn(target, name); ++tries) {
    name = platform::AsciiLower(NewCollisionName()) + extension;
  }
  if (!fs.RenameInto(source, target, name)) return std::nullopt;
  return name;
}

// A base name under which neither file of a pair is taken in the target:
// `base` itself when it is free, else a fresh collision name.
std::string FreePairName(platform::FileSystem& fs, platform::TargetFolder& target, const std::string& base) {
  std::string candidate = base;
  for (int tries = 0; tries < kMaxCandidates; ++tries) {
    bool taken = fs.NameTakenIn(target, candidate + ".q0") || fs.NameTakenIn(target, candidate + ".q1");
    // "wwwwww" is never used for a pair in a target folder.
    if (!taken && candidate != "wwwwww") break;
    candidate = platform::AsciiLower(NewCollisionName());
  }
  return candidate;
}

// Moves a header and its body under `base` into the target: true when both
// moved, false when both stayed where they were.
bool MovePair(platform::FileSystem& fs, const std::string& header, const std::string& body,
              platform::TargetFolder& target, const std::string& base) {
  std::string header_name = base + ".q0", body_name = base + ".q1";
  // The body gets its new name first, as a second name of the same file;
  // then the header moves in one rename, then the old body name goes. At
  // every instant one folder holds the whole pair; a kill in between leaves
  // only a second name of the body, which the next pass removes.
  switch (fs.LinkInto(body, target, body_name)) {
    case platform::LinkResult::kLinked:
      if (!fs.RenameInto(header, target, header_name)) {
        fs.RemoveFrom(target, body_name);
        return false;
      }
      fs.Remove(body);
      return true;
    case platform::LinkResult::kFailed: return false;
    case platform::LinkResult::kUnsupported: break;
  }
  // No hard links here: the header first, then the body; when the body
  // cannot follow, the header goes back beside it. A kill between the two
  // renames leaves the header in the target and the body behind, which the
  // next pass over the source folder joins again (RecoverInterruptedChanges).
  if (!fs.RenameInto(header, target, header_name)) return false;
  if (fs.RenameInto(body, target, body_name)) return true;
  fs.RenameNoReplace(InFolder(target.path(), header_name), header);
  return false;
}

}  // namespace

std::optional<std::string> SafeRenameMessage(const std::string& SourceFolder, const std::string& TargetFolder,
                                             const std::string& FileName) {
  platform::FileSystem& fs = platform::Host();
  if (!fs.PathExists(SourceFolder)) return std::nullopt;
  // The target is held open as the folder it is now: a link, FIFO or file
  // standing under its name is no target, and one swapped in meanwhile is
  // not followed.
  std::unique_ptr<platform::TargetFolder> target = fs.OpenTargetFolder(TargetFolder);
  if (!target) return std::nullopt;

  std::string base = GetBaseName(FileName);
  std::string extension = GetExtension(FileName);
  // The sources keep the caller's letter case: where two names differ only
  // in case, the listed file is the one that moves.
  std::string source = InFolder(SourceFolder, FileName);
  if (extension != ".q0") return MoveSingleFile(fs, source, *target, base, extension);

  // The header as it is named now (the move back restores that name), and
  // its companion, looked up while the header is still in place: once it has
  // gone, a file of another message could look like its companion.
  std::optional<std::string> header = fs.FindFile(source);
  if (!header) return std::nullopt;
  // Both files stay locked until both have moved: another of our programs
  // that lists either folder meanwhile finds them locked and leaves them
  // alone, rather than take a half-moved pair for a broken one.
  std::optional<LockedPair> pair = LockPair(fs, *header);
  if (!pair) return std::nullopt;
  std::string free_base = FreePairName(fs, *target, base);
  std::string header_name = free_base + ".q0";
  bool moved = pair->companion ? MovePair(fs, *header, *pair->companion, *target, free_base)
                               : fs.RenameInto(*header, *target, header_name);
  return moved ? std::optional(header_name) : std::nullopt;
}

bool DeleteMessageFiles(const std::string& path) {
  platform::FileSystem& fs = platform::Host();
  // A message that another of our programs is moving is left whole: its
  // header may already stand in the other folder, waiting for this body.
  std::optional<LockedPair> pair = LockPair(fs, path);
  if (!pair) return false;
  std::optional<std::string> header = fs.FindFile(path);
  if (!header) return false;
  if (!pair->companion) return fs.Remove(*header);
  // The body steps aside under a hidden name first, so that a header that
  // cannot go takes it back: the pair goes whole or stays whole. A kill in
  // between leaves the hidden body, which the next pass puts back beside
  // its header, or removes when the header has gone.
  const std::string& body = *pair->companion;
  auto [folder, body_name] = platform::SplitPath(body);
  std::string hidden = InFolder(folder, std::string(kDeletedPrefix) + body_name);
  if (!fs.RenameExact(body, hidden)) {
    // Gone meanwhile: nothing is left to split, and the header goes alone.
    return !fs.IdentityOf(body) && fs.Remove(*header);
  }
  if (!fs.Remove(*header)) {
    fs.RenameExact(hidden, body);
    return false;
  }
  fs.RemoveExact(hidden);
  return true;
}

namespace {

// A pass's view of one folder of a queue family, for putting right what a
// killed pass left unfinished.
struct FamilyFolder {
  std::string path;
  platform::FolderListing listing;
};

// The name a ".q1" body's header has, or would have.
std::string HeaderOf(const std::string& body) { return body.substr(0, body.size() - 3) + ".q0"; }

bool EndsWithQ1(std::string_view name) { return platform::EndsWithIgnoreCase(name, ".q1"); }

// Hidden files of ours: a new version that never replaced its original is
// dropped; a body that stepped aside for a delete goes back beside its
// header, or goes when the header has gone. One another process holds
// locked is still in use and left alone.
bool SweepLeftovers(platform::FileSystem& fs, const FamilyFolder& folder) {
  bool changed = false;
  for (const std::string& name : folder.listing.leftovers()) {
    std::string path = InFolder(folder.path, name);
    std::unique_ptr<platform::MessageLock> lock;
    if (fs.LockExact(path, &lock) != platform::LockResult::kHeld) continue;
    if (name.starts_with(kDeletedPrefix)) {
      std::string body = name.substr(kDeletedPrefix.size());
      if (EndsWithQ1(body) && fs.FileExists(InFolder(folder.path, HeaderOf(body)))) {
        changed |= fs.RenameExact(path, InFolder(folder.path, body));
        continue;
      }
    }
    changed |= fs.RemoveExact(path);
  }
  return changed;
}

// A body without a header in its folder, and what stands at its name.
struct LoneBody {
  FamilyFolder* folder;
  std::string name, path;
  platform::FileIdentity id;
};

// The lone bodies of the family, each looked at once.
std::vector<LoneBody> LoneBodies(platform::FileSystem& fs, std::vector<FamilyFolder>& family) {
  std::vector<LoneBody> lone;
  for (FamilyFolder& folder : family) {
    std::vector<const platform::DirEntry*> bodies;
    std::vector<std::string> headers;
    for (const platform::DirEntry& entry : folder.listing.entries()) {
      if (entry.is_directory || !EndsWithQ1(entry.name)) continue;
      bodies.push_back(&entry);
      headers.push_back(HeaderOf(entry.name));
    }
    const std::vector<char> has_header = folder.listing.AnyFilesLike(headers);
    for (std::size_t i = 0; i < bodies.size(); ++i) {
      if (has_header[i]) continue;
      std::string path = InFolder(folder.path, bodies[i]->name);
      if (std::optional<platform::FileIdentity> id = fs.IdentityOf(path)) {
        lone.push_back({&folder, bodies[i]->name, std::move(path), *id});
      }
    }
  }
  return lone;
}

// A lone body that shares its file with the body of a whole pair in the
// family is the second name an interrupted move left: the message is whole
// under the other name, and this one goes.
bool RemoveSecondNames(platform::FileSystem& fs, std::vector<FamilyFolder>& family, const std::vector<LoneBody>& lone) {
  if (std::none_of(lone.begin(), lone.end(), [](const LoneBody& l) { return l.id.links > 1; })) return false;
  bool changed = false;
  for (FamilyFolder& folder : family) {
    for (const platform::DirEntry& entry : folder.listing.entries()) {
      if (entry.is_directory || !EndsWithQ1(entry.name) || !folder.listing.AnyFileLike(HeaderOf(entry.name))) {
        continue;
      }
      std::optional<platform::FileIdentity> id = fs.IdentityOf(InFolder(folder.path, entry.name));
      if (!id) continue;
      for (const LoneBody& l : lone) {
        if (l.id.links < 2 || !l.id.SameFile(*id)) continue;
        // Locked: the move is still under way in another process.
        std::unique_ptr<platform::MessageLock> lock;
        if (fs.LockExact(l.path, &lock) != platform::LockResult::kHeld) continue;
        std::optional<platform::FileIdentity> now = fs.IdentityOf(l.path);
        if (now && now->SameFile(l.id) && !fs.FileExists(HeaderOf(l.path))) changed |= fs.RemoveExact(l.path);
      }
    }
  }
  return changed;
}

// Without hard links a move renames the header first: a kill before the
// body followed leaves a lone body in the source and, in a neighbour
// folder, its header under the same name without a body. The body follows.
bool JoinSplitPairs(platform::FileSystem& fs, std::vector<FamilyFolder>& family, const std::vector<LoneBody>& lone) {
  bool changed = false;
  for (const LoneBody& l : lone) {
    if (l.id.links != 1) continue;  // a second name: RemoveSecondNames' case
    std::string header = platform::AsciiLower(HeaderOf(l.name));
    for (FamilyFolder& other : family) {
      if (&other == l.folder) continue;
      if (other.listing.KindOf(header) != platform::NameIndex::Kind::kFile) continue;
      if (other.listing.Companion(header)) continue;
      std::unique_ptr<platform::MessageLock> header_lock, body_lock;
      std::string header_path = InFolder(other.path, header);
      if (fs.LockExact(header_path, &header_lock) != platform::LockResult::kHeld ||
          fs.LockExact(l.path, &body_lock) != platform::LockResult::kHeld) {
        continue;
      }
      std::unique_ptr<platform::TargetFolder> target = fs.OpenTargetFolder(other.path);
      if (target && !fs.FindCompanion(header_path)) {
        changed |= fs.RenameInto(l.path, *target, platform::AsciiLower(l.name));
      }
      break;
    }
  }
  return changed;
}

}  // namespace

bool RecoverInterruptedChanges(const std::vector<std::string>& folders, platform::FolderListing* listing) {
  platform::FileSystem& fs = platform::Host();
  std::vector<FamilyFolder> family;
  for (const std::string& path : folders) {
    bool repeated = std::any_of(family.begin(), family.end(), [&](const FamilyFolder& f) { return f.path == path; });
    if (repeated) continue;
    FamilyFolder folder{path, {}};
    if (listing != nullptr && path == folders.front()) {
      std::swap(folder.listing, *listing);  // a large folder is not listed twice
      family.push_back(std::move(folder));
    } else if (fs.ReadFolder(path, &folder.listing)) {
      family.push_back(std::move(folder));
    }
  }
  // The caller's listing goes back to it however this ends.
  struct GiveBack {
    std::vector<FamilyFolder>& family;
    platform::FolderListing* listing;
    ~GiveBack() {
      if (listing != nullptr && !family.empty()) std::swap(family.front().listing, *listing);
    }
  } give_back{family, listing};
  bool changed = false;
  for (const FamilyFolder& folder : family) changed |= SweepLeftovers(fs, folder);
  if (changed) {
    for (FamilyFolder& folder : family) fs.ReadFolder(folder.path, &folder.listing);
  }
  const std::vector<LoneBody> lone = LoneBodies(fs, family);
  bool moved = RemoveSecondNames(fs, family, lone);
  moved |= JoinSplitPairs(fs, family, lone);
  return changed || moved;
}
