// One contract, two hosts: every test runs against the real Linux file
// system (in a fresh temporary folder) and against the in-memory fake, so
// the fake that other tests rely on behaves like the real thing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "platform/FileSystem.h"
#include "platform/RealFileSystem.h"
#include "platform/Text.h"
#include "tests/TestSupport.h"
#include "tests/platform/FakeFileSystem.h"

namespace {

using platform::DirEntry;

// The host under test, and a tree set up and read back behind its back.
struct RealWorld {
  test_support::TempFolder temp;
  platform::RealFileSystem fs;
  std::string root = temp.path();
  void Folder(const std::string& path) { std::filesystem::create_directories(path); }
  void File(const std::string& path, const std::string& bytes) { test_support::WriteFile(path, bytes); }
  bool Has(const std::string& path) const { return std::filesystem::exists(path); }
  std::string Bytes(const std::string& path) const { return test_support::ReadFile(path); }
};

struct FakeWorld {
  testing_host::FakeFileSystem fs;
  std::string root = "/root";
  FakeWorld() { fs.AddFolder(root); }
  void Folder(const std::string& path) { fs.AddFolder(path); }
  void File(const std::string& path, const std::string& bytes) { fs.AddFile(path, bytes); }
  bool Has(const std::string& path) const { return fs.HasFile(path) || fs.HasFolder(path); }
  std::string Bytes(const std::string& path) const { return fs.Contents(path); }
};

template <typename W>
class FileSystemContract : public ::testing::Test {
 protected:
  FileSystemContract() { Folder("to"); }
  W world;
  platform::FileSystem& fs() { return world.fs; }
  std::string At(const std::string& rel) const { return world.root + "/" + rel; }
  void Folder(const std::string& rel) { world.Folder(At(rel)); }
  void File(const std::string& rel, const std::string& bytes) { world.File(At(rel), bytes); }
  bool Has(const std::string& rel) const { return world.Has(At(rel)); }
  std::string Bytes(const std::string& rel) const { return world.Bytes(At(rel)); }

  // The names listed by `mask`, folders with a "/"; all entries read when no mask is given.
  std::vector<std::string> Listed(const std::string& mask = "") {
    std::vector<DirEntry> entries;
    platform::FolderListing listing;
    // A listing read again holds the folder once, not twice.
    EXPECT_TRUE(mask.empty() ? fs().ReadFolder(world.root, &listing) && fs().ReadFolder(world.root, &listing)
                             : fs().ListFolder(world.root, mask, &entries));
    if (mask.empty()) entries = listing.entries();
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name + (e.is_directory ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
  }
};

using Worlds = ::testing::Types<RealWorld, FakeWorld>;
TYPED_TEST_SUITE(FileSystemContract, Worlds);

TYPED_TEST(FileSystemContract, ListsByMaskIgnoringCaseAndHiddenNames) {
  for (const char* name : {"a.q0", "B.Q0", "c.q0x", "d.q1", "noext", ".hidden.q0"}) this->File(name, name);
  this->Folder("sub.q0");

  using V = std::vector<std::string>;
  EXPECT_EQ(this->Listed("*.q0"), (V{"B.Q0", "a.q0", "sub.q0/"}));
  EXPECT_EQ(this->Listed(), (V{"B.Q0", "a.q0", "c.q0x", "d.q1", "noext", "sub.q0/", "to/"}));  // no ".", ".."
  std::vector<DirEntry> entries;
  EXPECT_FALSE(this->fs().ListFolder(this->At("missing"), "*.*", &entries));
}

// A name is found in another letter case only when that is unambiguous; an
// exact name always wins. Only ordinary files are found.
TYPED_TEST(FileSystemContract, FindsFilesAndCompanionsByTheLetterCaseRules) {
  for (const char* name : {"MiXed.Q0", "lower.q1", ".hidden", "A.q0", "a.q0", "a.q1", "B.q0", "b.q1", "C.q0", "c.q1",
                           "c.Q1", "D.q0", "X", "x"}) {
    this->File(name, name);
  }
  this->Folder("folder");
  this->Folder("d.q1");
  // FindCompanion (else FindFile) of `name` finds `found`, "" for none.
  struct Case { bool companion; const char* name; const char* found; } cases[] = {
      {false, "MiXed.Q0", "MiXed.Q0"}, {false, "mixed.q0", "MiXed.Q0"}, {false, "LOWER.Q1", "lower.q1"},
      {false, ".hidden", ""},          {false, "folder", ""},           {false, "absent", ""},
      {false, "X", "X"},               {false, "A.Q0", ""},  // A.q0 or a.q0: ambiguous
      {true, "A.q0", ""},  // beside a.q0 + a.q1: a.q1 is not its companion
      {true, "a.q0", "a.q1"},          {true, "B.q0", "b.q1"},
      {true, "C.q0", ""},  // two candidates
      {true, "D.q0", ""},  // a folder is no companion
  };
  for (const Case& c : cases) {
    std::string path = this->At(c.name);
    auto found = c.companion ? this->fs().FindCompanion(path) : this->fs().FindFile(path);
    EXPECT_EQ(found.value_or(""), *c.found ? this->At(c.found) : "") << c.name;
  }
  EXPECT_EQ(this->fs().FileLength(this->At("Lower.Q1")), 8u);
  EXPECT_TRUE(this->fs().PathExists(this->At("folder")));
  EXPECT_FALSE(this->fs().PathExists(this->At("absent")));
  EXPECT_TRUE(this->fs().NameTaken(this->At("D.Q1")));  // a folder takes a name in any case
  EXPECT_FALSE(this->fs().NameTaken(this->At("e.q0")));
}

TYPED_TEST(FileSystemContract, RenameNeverReplacesInAnyLetterCase) {
  this->File("a.q0", "mine");
  this->File("to/A.Q0", "theirs");
  EXPECT_FALSE(this->fs().RenameNoReplace(this->At("a.q0"), this->At("to/a.q0")));
  EXPECT_EQ(this->Bytes("a.q0"), "mine");
  EXPECT_EQ(this->Bytes("to/A.Q0"), "theirs");

  EXPECT_TRUE(this->fs().RenameNoReplace(this->At("A.Q0"), this->At("to/b.q0")));  // source found in other case
  EXPECT_FALSE(this->Has("a.q0"));
  EXPECT_EQ(this->Bytes("to/b.q0"), "mine");

  EXPECT_FALSE(this->fs().RenameNoReplace(this->At("gone"), this->At("to/gone")));
  this->File("c", "c");
  EXPECT_FALSE(this->fs().RenameNoReplace(this->At("c"), this->At("nofolder/c")));
  EXPECT_EQ(this->Bytes("c"), "c");
}

// A file is changed by a new version that replaces it whole, and only
// while its name still holds the very file that was read.
TYPED_TEST(FileSystemContract, ReplacesAFileOnlyWhileItIsTheOneRead) {
  this->File("f", "0123456789");
  this->File("g", "old");
  for (const char* name : {"F", "g"}) {
    std::unique_ptr<platform::FileHandle> file = this->fs().OpenReadWrite(this->At(name));
    std::string read;
    ASSERT_TRUE(file && file->ReadAll(&read)) << name;
    std::unique_ptr<platform::TempFile> version = file->NewVersion();
    ASSERT_TRUE(version && version->Write("new ") && version->Write("bytes"));
    if (*name == 'g') {  // moved away and replaced by a newcomer meanwhile: neither is touched
      ASSERT_TRUE(this->fs().RenameNoReplace(this->At("g"), this->At("to/g")));
      this->File("g", "newcomer");
    }
    EXPECT_EQ(file->Replace(*version), *name == 'F') << name;
    EXPECT_EQ(read, *name == 'F' ? "0123456789" : "old");
  }
  EXPECT_EQ(this->Bytes("f"), "new bytes");
  EXPECT_EQ(this->Bytes("to/g"), "old");
  EXPECT_EQ(this->Bytes("g"), "newcomer");
  platform::FolderListing listing;  // no new version is left behind
  ASSERT_TRUE(this->fs().ReadFolder(this->world.root, &listing));
  EXPECT_TRUE(listing.leftovers().empty());
  EXPECT_FALSE(this->fs().OpenReadWrite(this->At("new")));
  EXPECT_FALSE(this->Has("new"));
}

// Moves into an opened folder: a second name first, never over anything;
// hidden names of ours are listed apart and addressed only exactly.
TYPED_TEST(FileSystemContract, LinksAndMovesIntoAnOpenedFolder) {
  this->File("a.q1", "body");
  this->File("to/Taken.q1", "theirs");
  std::unique_ptr<platform::TargetFolder> to = this->fs().OpenTargetFolder(this->At("to"));
  ASSERT_TRUE(to);
  EXPECT_FALSE(this->fs().OpenTargetFolder(this->At("a.q1")));
  EXPECT_FALSE(this->fs().OpenTargetFolder(this->At("none")));
  EXPECT_TRUE(this->fs().NameTakenIn(*to, "TAKEN.Q1"));
  for (const char* name : {"taken.q1", ".~kqdel.a.q1"}) {  // hidden names are never moved into
    EXPECT_EQ(this->fs().LinkInto(this->At("a.q1"), *to, name), platform::LinkResult::kFailed) << name;
    EXPECT_FALSE(this->fs().RenameInto(this->At("a.q1"), *to, name)) << name;
  }
  ASSERT_EQ(this->fs().LinkInto(this->At("A.Q1"), *to, "b.q1"), platform::LinkResult::kLinked);
  std::optional<platform::FileIdentity> a = this->fs().IdentityOf(this->At("a.q1"));
  std::optional<platform::FileIdentity> b = this->fs().IdentityOf(this->At("to/b.q1"));
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(a->SameFile(*b));
  EXPECT_EQ(b->links, 2u);
  EXPECT_TRUE(this->fs().RemoveFrom(*to, "b.q1"));
  EXPECT_FALSE(this->fs().RenameInto(this->At("a.q1"), *to, "Taken.q1"));
  EXPECT_TRUE(this->fs().RenameInto(this->At("a.q1"), *to, "c.q1"));
  EXPECT_EQ(this->Bytes("to/c.q1"), "body");

  std::string hidden = this->At("to/.~kqdel.c.q1");
  ASSERT_TRUE(this->fs().RenameExact(this->At("to/c.q1"), hidden));
  EXPECT_FALSE(this->fs().FileExists(hidden));
  platform::FolderListing listing;
  ASSERT_TRUE(this->fs().ReadFolder(this->At("to"), &listing));
  EXPECT_EQ(listing.leftovers(), std::vector<std::string>{".~kqdel.c.q1"});
  EXPECT_EQ(listing.entries().size(), 1u);
  EXPECT_FALSE(this->fs().RenameExact(hidden, this->At("to/TAKEN.q1")));
  EXPECT_TRUE(this->fs().RemoveExact(hidden));
  EXPECT_FALSE(this->fs().IdentityOf(hidden));
}

// A message's lock goes with its file through a rename, and never waits.
TYPED_TEST(FileSystemContract, LocksFollowTheFileAndNeverWait) {
  using platform::LockResult;
  this->File("m.q0", "h");
  std::unique_ptr<platform::MessageLock> held, other;
  ASSERT_EQ(this->fs().LockMessage(this->At("M.Q0"), &held), LockResult::kHeld);
  EXPECT_EQ(this->fs().LockMessage(this->At("m.q0"), &other), LockResult::kBusy);
  EXPECT_FALSE(this->fs().OpenReadWrite(this->At("m.q0")));
  ASSERT_TRUE(this->fs().RenameNoReplace(this->At("m.q0"), this->At("to/m.q0")));
  EXPECT_EQ(this->fs().LockMessage(this->At("to/m.q0"), &other), LockResult::kBusy);
  EXPECT_EQ(this->fs().LockMessage(this->At("m.q0"), &other), LockResult::kMissing);
  EXPECT_EQ(this->fs().LockExact(this->At("m.q0"), &other), LockResult::kMissing);
  held.reset();
  EXPECT_EQ(this->fs().LockMessage(this->At("to/m.q0"), &other), LockResult::kHeld);
  EXPECT_EQ(this->Bytes("to/m.q0"), "h");
}

TYPED_TEST(FileSystemContract, ReadsAndRemovesInAnyLetterCase) {
  std::string big(200000, 'x');
  big[123456] = 'y';
  this->File("Big.Txt", big);
  std::string read;
  std::unique_ptr<platform::ReadStream> in = this->fs().OpenRead(this->At("big.txt"));
  ASSERT_TRUE(in);
  EXPECT_EQ(platform::ReadToEnd(*in, &read, big.size()), platform::ReadEnd::kWhole);
  EXPECT_EQ(read, big);
  // A file that holds more than it reported when opened (it grew; a /proc
  // file reports 0) is cut at the limit, its text never taking more memory.
  in = this->fs().OpenRead(this->At("big.txt"));
  this->File("Big.Txt", big + big);
  EXPECT_EQ(platform::ReadToEnd(*in, &read, big.size() + big.size() / 2), platform::ReadEnd::kTooLong);
  EXPECT_LE(read.capacity(), big.size() + big.size() / 2);
  errno = 0;
  EXPECT_FALSE(this->fs().OpenRead(this->At("none")));
  EXPECT_EQ(errno, ENOENT);

  EXPECT_TRUE(this->fs().Remove(this->At("BIG.TXT")));
  EXPECT_FALSE(this->Has("Big.Txt"));
  EXPECT_FALSE(this->fs().Remove(this->At("BIG.TXT")));
}

// The real host alone, on what the fake has no counterpart for.
using RealFileSystem = FileSystemContract<RealWorld>;

// Links, FIFOs and devices are never files: not listed, not opened (and so
// never waited on), not moved or removed; a name they hold is taken.
TEST_F(RealFileSystem, LinksAndFifosAreNeverFiles) {
  File("outside", "outside bytes");
  std::filesystem::create_symlink(At("outside"), At("link.q0"));
  ASSERT_EQ(::mkfifo(At("fifo.q0").c_str(), 0600), 0);
  File("file.q0", "x");

  EXPECT_EQ(Listed("*.q0"), (std::vector<std::string>{"file.q0"}));
  for (const char* name : {"link.q0", "fifo.q0", "LINK.Q0"}) {
    std::string path = At(name);
    EXPECT_FALSE(fs().FileExists(path)) << name;
    EXPECT_FALSE(fs().FileLength(path)) << name;
    EXPECT_FALSE(fs().OpenRead(path)) << name;
    EXPECT_FALSE(fs().OpenReadWrite(path)) << name;
    EXPECT_FALSE(fs().Remove(path)) << name;
    EXPECT_FALSE(fs().RenameNoReplace(path, At("moved"))) << name;
    EXPECT_TRUE(fs().NameTaken(At(platform::AsciiUpper(name)))) << name;
    EXPECT_FALSE(fs().RenameNoReplace(At("file.q0"), path)) << name;
  }
  // A second hard link of a file outside the queue is listed and may move,
  // but is never rewritten: that would change the outside file too.
  std::filesystem::create_hard_link(At("outside"), At("hard.q0"));
  EXPECT_FALSE(fs().OpenReadWrite(At("hard.q0")));
  EXPECT_TRUE(fs().OpenReadWrite(At("file.q0")));
  EXPECT_EQ(test_support::ListNames(world.root), "fifo.q0 file.q0 hard.q0 link.q0 outside to/");
  EXPECT_EQ(Bytes("outside"), "outside bytes");
}

// A folder is named as unchangeable only when it stands and denies us its
// change rights; a missing one is left to the caller's own error.
TEST_F(RealFileSystem, NamesOnlyFoldersItMayNotChange) {
  File("file", "x");
  for (const char* rel : {"to", "missing", "file"}) EXPECT_EQ(fs().WhyFolderUnchangeable(At(rel)), std::nullopt) << rel;
  if (::geteuid() == 0) return;  // root may change any folder
  std::filesystem::permissions(At("to"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  EXPECT_NE(fs().WhyFolderUnchangeable(At("to")).value_or("").find("may not change files in it"), std::string::npos);
  std::filesystem::permissions(At("to"), std::filesystem::perms::owner_all);
}

// The real host keeps an index of capitalised names per folder; it must see
// files that another program adds or removes behind its back.
TEST_F(RealFileSystem, SeesChangesMadeByOthersAfterIndexing) {
  File("ONE.Q0", "1");
  EXPECT_TRUE(fs().FileExists(At("one.q0")));
  EXPECT_FALSE(fs().FileExists(At("two.q0")));

  // Another program's changes, with a pause so the folder time moves on.
  struct timespec pause {0, 20'000'000};
  nanosleep(&pause, nullptr);
  std::filesystem::remove(At("ONE.Q0"));
  File("TWO.Q0", "2");
  EXPECT_FALSE(fs().FileExists(At("one.q0")));
  EXPECT_TRUE(fs().FileExists(At("two.q0")));

  // Our own renames keep the index right without another listing.
  EXPECT_TRUE(fs().RenameNoReplace(At("two.q0"), At("to/Three.Q0")));
  EXPECT_TRUE(fs().FileExists(At("to/THREE.q0")));
  EXPECT_FALSE(fs().FileExists(At("TWO.Q0")));
  EXPECT_FALSE(fs().RenameNoReplace(At("to/three.q0"), At("to/THREE.Q0")));
}

// The batched lookups answer as one lookup per name, across batch ends:
// files in any letter case count, folders and absent names do not.
TEST(FolderListing, BatchedLookupsAnswerAsSingleOnes) {
  platform::FolderListing listing;
  std::vector<std::string> names;
  for (int i = 0; i < 50; ++i) {
    std::string name = "m" + std::to_string(i) + ".q0";
    if (i % 3 != 2) listing.Add({i % 3 == 0 ? name : platform::AsciiUpper(name), i % 5 == 4});
    names.push_back(name);
  }
  std::vector<char> expected;
  for (const std::string& name : names) expected.push_back(listing.AnyFileLike(name) ? 1 : 0);
  EXPECT_EQ(listing.AnyFilesLike(names), expected);
  EXPECT_EQ(std::count(expected.begin(), expected.end(), 1), 27);
}

}  // namespace
