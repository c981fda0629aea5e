// One contract, two hosts: every test runs against the real Linux file
// system (in a fresh temporary folder) and against the in-memory fake, so
// the fake that other tests rely on behaves like the real thing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "platform/FileSystem.h"
#include "platform/RealFileSystem.h"
#include "platform/Text.h"
#include "tests/TestSupport.h"
#include "tests/platform/FakeFileSystem.h"

namespace {

using platform::DirEntry;

// Sets up trees and reads them back, behind the host under test.
class World {
 public:
  virtual ~World() = default;
  virtual platform::FileSystem& fs() = 0;
  virtual std::string root() const = 0;
  virtual void Folder(const std::string& rel) = 0;
  virtual void File(const std::string& rel, const std::string& bytes) = 0;
  virtual bool Has(const std::string& rel) const = 0;
  virtual std::string Bytes(const std::string& rel) const = 0;
  std::string At(const std::string& rel) const { return root() + "/" + rel; }
};

class RealWorld : public World {
 public:
  platform::FileSystem& fs() override { return fs_; }
  std::string root() const override { return temp_.path(); }
  void Folder(const std::string& rel) override { std::filesystem::create_directories(At(rel)); }
  void File(const std::string& rel, const std::string& bytes) override { test_support::WriteFile(At(rel), bytes); }
  bool Has(const std::string& rel) const override { return test_support::Exists(At(rel)); }
  std::string Bytes(const std::string& rel) const override { return test_support::ReadFile(At(rel)); }

 private:
  test_support::TempFolder temp_;
  platform::RealFileSystem fs_;
};

class FakeWorld : public World {
 public:
  FakeWorld() { fs_.AddFolder("/root"); }
  platform::FileSystem& fs() override { return fs_; }
  std::string root() const override { return "/root"; }
  void Folder(const std::string& rel) override { fs_.AddFolder(At(rel)); }
  void File(const std::string& rel, const std::string& bytes) override { fs_.AddFile(At(rel), bytes); }
  bool Has(const std::string& rel) const override { return fs_.HasFile(At(rel)) || fs_.HasFolder(At(rel)); }
  std::string Bytes(const std::string& rel) const override { return fs_.Contents(At(rel)); }

 private:
  testing_host::FakeFileSystem fs_;
};

template <typename W>
class FileSystemContract : public ::testing::Test {
 protected:
  W world;
  platform::FileSystem& fs() { return world.fs(); }
  std::string At(const std::string& rel) const { return world.At(rel); }

  std::vector<std::string> Listed(const std::string& mask) {
    std::vector<DirEntry> entries;
    EXPECT_TRUE(fs().ListFolder(world.root(), mask, &entries));
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name + (e.is_directory ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
  }
};

using Worlds = ::testing::Types<RealWorld, FakeWorld>;
TYPED_TEST_SUITE(FileSystemContract, Worlds);

TYPED_TEST(FileSystemContract, ListsByMaskIgnoringCaseAndHiddenNames) {
  this->world.File("a.q0", "x");
  this->world.File("B.Q0", "yy");
  this->world.File("c.q0x", "");
  this->world.File("d.q1", "z");
  this->world.File("noext", "z");
  this->world.File(".hidden.q0", "z");
  this->world.Folder("sub.q0");

  using V = std::vector<std::string>;
  EXPECT_EQ(this->Listed("*.q0"), (V{"B.Q0", "a.q0", "sub.q0/"}));
  EXPECT_EQ(this->Listed("*.q0*"), (V{"B.Q0", "a.q0", "c.q0x", "sub.q0/"}));
  EXPECT_EQ(this->Listed("*.*"), (V{"B.Q0", "a.q0", "c.q0x", "d.q1", "noext", "sub.q0/"}));

  std::vector<DirEntry> entries;
  ASSERT_TRUE(this->fs().ListFolder(this->world.root(), "b.q0", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "B.Q0");
  EXPECT_FALSE(this->fs().ListFolder(this->At("missing"), "*.*", &entries));
}

TYPED_TEST(FileSystemContract, FindsOrdinaryFilesInAnyLetterCase) {
  this->world.File("MiXed.Q0", "1");
  this->world.File("lower.q1", "22");
  this->world.File(".hidden", "3");
  this->world.Folder("folder");

  EXPECT_EQ(this->fs().FindFile(this->At("MiXed.Q0")), this->At("MiXed.Q0"));
  EXPECT_EQ(this->fs().FindFile(this->At("mixed.q0")), this->At("MiXed.Q0"));
  EXPECT_EQ(this->fs().FindFile(this->At("LOWER.Q1")), this->At("lower.q1"));
  EXPECT_EQ(this->fs().FileLength(this->At("Lower.Q1")), 2u);
  EXPECT_FALSE(this->fs().FileExists(this->At(".hidden")));
  EXPECT_FALSE(this->fs().FileExists(this->At("folder")));
  EXPECT_FALSE(this->fs().FileExists(this->At("absent")));
  EXPECT_TRUE(this->fs().PathExists(this->At("folder")));
  EXPECT_FALSE(this->fs().PathExists(this->At("absent")));
}

TYPED_TEST(FileSystemContract, RenameNeverReplacesInAnyLetterCase) {
  this->world.Folder("to");
  this->world.File("a.q0", "mine");
  this->world.File("to/A.Q0", "theirs");
  EXPECT_FALSE(this->fs().RenameNoReplace(this->At("a.q0"), this->At("to/a.q0")));
  EXPECT_EQ(this->world.Bytes("a.q0"), "mine");
  EXPECT_EQ(this->world.Bytes("to/A.Q0"), "theirs");

  EXPECT_TRUE(this->fs().RenameNoReplace(this->At("A.Q0"), this->At("to/b.q0")));  // source found in other case
  EXPECT_FALSE(this->world.Has("a.q0"));
  EXPECT_EQ(this->world.Bytes("to/b.q0"), "mine");

  EXPECT_FALSE(this->fs().RenameNoReplace(this->At("gone"), this->At("to/gone")));
  EXPECT_FALSE(this->world.Has("to/gone"));
  this->world.File("c", "c");
  EXPECT_FALSE(this->fs().RenameNoReplace(this->At("c"), this->At("nofolder/c")));
  EXPECT_EQ(this->world.Bytes("c"), "c");
}

TYPED_TEST(FileSystemContract, RewritesAnOpenFileWhereverItGoes) {
  this->world.Folder("to");
  this->world.File("f", "0123456789");
  std::unique_ptr<platform::FileHandle> file = this->fs().OpenReadWrite(this->At("F"));
  ASSERT_TRUE(file);
  std::string read;
  EXPECT_TRUE(file->ReadAll(&read));
  EXPECT_EQ(read, "0123456789");
  // Moved and replaced by a newcomer meanwhile: the handle keeps to its file.
  ASSERT_TRUE(this->fs().RenameNoReplace(this->At("f"), this->At("to/f")));
  this->world.File("f", "newcomer");
  EXPECT_TRUE(file->WriteAt(8, "ABCD"));
  EXPECT_TRUE(file->Truncate(11));
  EXPECT_EQ(file->Size(), 11u);
  file.reset();
  EXPECT_EQ(this->world.Bytes("to/f"), "01234567ABC");
  EXPECT_EQ(this->world.Bytes("f"), "newcomer");

  EXPECT_FALSE(this->fs().OpenReadWrite(this->At("new")));
  EXPECT_FALSE(this->world.Has("new"));
}

// A message's lock goes with its file through a rename, and never waits.
TYPED_TEST(FileSystemContract, LocksFollowTheFileAndNeverWait) {
  using platform::LockResult;
  this->world.Folder("to");
  this->world.File("m.q0", "h");
  std::unique_ptr<platform::MessageLock> held, other;
  ASSERT_EQ(this->fs().LockMessage(this->At("M.Q0"), &held), LockResult::kHeld);
  EXPECT_EQ(this->fs().LockMessage(this->At("m.q0"), &other), LockResult::kBusy);
  EXPECT_FALSE(this->fs().OpenReadWrite(this->At("m.q0")));
  ASSERT_TRUE(this->fs().RenameNoReplace(this->At("m.q0"), this->At("to/m.q0")));
  EXPECT_EQ(this->fs().LockMessage(this->At("to/m.q0"), &other), LockResult::kBusy);
  EXPECT_EQ(this->fs().LockMessage(this->At("m.q0"), &other), LockResult::kMissing);
  held.reset();
  EXPECT_EQ(this->fs().LockMessage(this->At("to/m.q0"), &other), LockResult::kHeld);
  EXPECT_TRUE(other);
  EXPECT_EQ(this->world.Bytes("to/m.q0"), "h");
}

TYPED_TEST(FileSystemContract, ReadsAndRemovesInAnyLetterCase) {
  std::string big(200000, 'x');
  big[123456] = 'y';
  this->world.File("Big.Txt", big);
  std::string read;
  EXPECT_TRUE(platform::ReadWholeFile(this->fs(), this->At("big.txt"), &read));
  EXPECT_EQ(read, big);
  EXPECT_FALSE(platform::ReadWholeFile(this->fs(), this->At("none"), &read));

  EXPECT_TRUE(this->fs().Remove(this->At("BIG.TXT")));
  EXPECT_FALSE(this->world.Has("Big.Txt"));
  EXPECT_FALSE(this->fs().Remove(this->At("BIG.TXT")));
}

TYPED_TEST(FileSystemContract, TakesAnotherCaseOnlyWhenUnambiguous) {
  this->world.File("A.q0", "h");  // beside a.q0 + a.q1: a.q1 is not its companion
  this->world.File("a.q0", "h");
  this->world.File("a.q1", "b");
  this->world.File("B.q0", "h");  // alone with b.q1
  this->world.File("b.q1", "b");
  this->world.File("C.q0", "h");  // two candidates
  this->world.File("c.q1", "1");
  this->world.File("c.Q1", "2");
  this->world.Folder("d.q1");
  this->world.File("D.q0", "h");  // a folder is no companion
  this->world.File("X", "1");
  this->world.File("x", "2");

  auto companion = [this](const std::string& q0) { return this->fs().FindCompanion(this->At(q0)); };
  EXPECT_EQ(companion("A.q0"), std::nullopt);
  EXPECT_EQ(companion("a.q0"), this->At("a.q1"));
  EXPECT_EQ(companion("B.q0"), this->At("b.q1"));
  EXPECT_EQ(companion("C.q0"), std::nullopt);
  EXPECT_EQ(companion("D.q0"), std::nullopt);
  EXPECT_EQ(this->fs().FindFile(this->At("X")), this->At("X"));  // an exact name always wins
  EXPECT_EQ(this->fs().FindFile(this->At("A.Q0")), std::nullopt);  // A.q0 or a.q0: ambiguous
  EXPECT_TRUE(this->fs().NameTaken(this->At("D.Q1")));  // a folder takes a name in any case
  EXPECT_FALSE(this->fs().NameTaken(this->At("e.q0")));
}

// Links, FIFOs and devices are never files: not listed, not opened (and so
// never waited on), not moved or removed; a name they hold is taken.
TEST(RealFileSystem, LinksAndFifosAreNeverFiles) {
  test_support::TempFolder temp;
  platform::RealFileSystem fs;
  test_support::WriteFile(temp / "outside", "outside bytes");
  std::filesystem::create_symlink(temp / "outside", temp / "link.q0");
  ASSERT_EQ(::mkfifo((temp / "fifo.q0").c_str(), 0600), 0);
  test_support::WriteFile(temp / "file.q0", "x");

  std::vector<DirEntry> entries;
  ASSERT_TRUE(fs.ListFolder(temp.path(), "*.q0", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "file.q0");
  for (const char* name : {"link.q0", "fifo.q0", "LINK.Q0"}) {
    std::string path = temp / name;
    EXPECT_FALSE(fs.FileExists(path)) << name;
    EXPECT_FALSE(fs.FileLength(path)) << name;
    EXPECT_FALSE(fs.OpenRead(path)) << name;
    EXPECT_FALSE(fs.OpenReadWrite(path)) << name;
    EXPECT_FALSE(fs.Remove(path)) << name;
    EXPECT_FALSE(fs.RenameNoReplace(path, temp / "moved")) << name;
    EXPECT_TRUE(fs.NameTaken(temp / platform::AsciiUpper(name))) << name;
    EXPECT_FALSE(fs.RenameNoReplace(temp / "file.q0", path)) << name;
  }
  // A second hard link of a file outside the queue is listed and may move,
  // but is never rewritten: that would change the outside file too.
  std::filesystem::create_hard_link(temp / "outside", temp / "hard.q0");
  EXPECT_FALSE(fs.OpenReadWrite(temp / "hard.q0"));
  EXPECT_TRUE(fs.OpenReadWrite(temp / "file.q0"));
  EXPECT_EQ(test_support::ListNames(temp.path()), "fifo.q0 file.q0 hard.q0 link.q0 outside");
  EXPECT_EQ(test_support::ReadFile(temp / "outside"), "outside bytes");
}

// The real host keeps an index of capitalised names per folder; it must see
// files that another program adds or removes behind its back.
TEST(RealFileSystem, SeesChangesMadeByOthersAfterIndexing) {
  test_support::TempFolder temp;
  platform::RealFileSystem fs;
  test_support::WriteFile(temp / "ONE.Q0", "1");
  EXPECT_TRUE(fs.FileExists(temp / "one.q0"));
  EXPECT_FALSE(fs.FileExists(temp / "two.q0"));

  // Another program's changes, with a pause so the folder time moves on.
  struct timespec pause {0, 20'000'000};
  nanosleep(&pause, nullptr);
  std::filesystem::remove(temp / "ONE.Q0");
  test_support::WriteFile(temp / "TWO.Q0", "2");
  EXPECT_FALSE(fs.FileExists(temp / "one.q0"));
  EXPECT_TRUE(fs.FileExists(temp / "two.q0"));

  // Our own renames keep the index right without another listing.
  std::filesystem::create_directory(temp / "to");
  EXPECT_TRUE(fs.RenameNoReplace(temp / "two.q0", temp / "to/Three.Q0"));
  EXPECT_TRUE(fs.FileExists(temp / "to/THREE.q0"));
  EXPECT_FALSE(fs.FileExists(temp / "TWO.Q0"));
  EXPECT_FALSE(fs.RenameNoReplace(temp / "to/three.q0", temp / "to/THREE.Q0"));
}

}  // namespace
