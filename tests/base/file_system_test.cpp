// The held-folder file functions, the same on POSIX and on Windows.

#include "base/FileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/UniqueFd.h"
#include "tests/base/FileSystemFixture.h"

namespace qm {
namespace {

using testing::FileSystemFixture;
using FileSystemTest = FileSystemFixture;

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Listing(int folder) {
  std::vector<std::string> names;
  EXPECT_EQ(fs::ListFolder(folder, names), 0) << "errno " << errno;
  return Sorted(names);
}

TEST_F(FileSystemTest, ExclusiveCreateRefusesEveryExistingName) {
  Write(folder(), "file", "kept");
  ASSERT_EQ(fs::MakeFolder(folder(), "folder"), 0);
  for (const std::string name : {"file", "folder"}) {
    EXPECT_EQ(ErrorOf([&] { return fs::CreateExclusive(folder(), name, 0600); }), EEXIST) << name;
  }
  EXPECT_EQ(Read(folder(), "file"), "kept");
  EXPECT_EQ(ErrorOf([&] { return fs::MakeFolder(folder(), "file"); }), EEXIST);
}

TEST_F(FileSystemTest, NoReplaceRenameRefusesAnExistingTargetAndKeepsBoth) {
  ASSERT_EQ(fs::MakeFolder(folder(), "other"), 0);
  const UniqueFd other(fs::OpenFolder(folder(), "other"));
  ASSERT_TRUE(other.valid());
  struct Case {
    const char* what;
    int to_folder;
  };
  for (const Case& c : {Case{"same folder", folder()}, Case{"other folder", other.get()}}) {
    SCOPED_TRACE(c.what);
    Write(folder(), "from", "source");
    Write(c.to_folder, "to", "target");
    EXPECT_EQ(ErrorOf([&] { return fs::RenameNoReplace(folder(), "from", c.to_folder, "to"); }),
              EEXIST);
    EXPECT_EQ(Read(folder(), "from"), "source");
    EXPECT_EQ(Read(c.to_folder, "to"), "target");
    // A hard link to a taken name is refused alike.
    EXPECT_EQ(ErrorOf([&] { return fs::HardLink(folder(), "from", c.to_folder, "to"); }), EEXIST);
    EXPECT_EQ(Read(c.to_folder, "to"), "target");

    // To a free name it moves; the replacing rename takes a taken one.
    ASSERT_EQ(fs::RenameNoReplace(folder(), "from", c.to_folder, "moved"), 0) << errno;
    EXPECT_EQ(Read(c.to_folder, "moved"), "source");
    EXPECT_EQ(ErrorOf([&] { return fs::OpenForReading(folder(), "from"); }), ENOENT);
    ASSERT_EQ(fs::RenameReplacing(c.to_folder, "moved", c.to_folder, "to"), 0) << errno;
    EXPECT_EQ(Read(c.to_folder, "to"), "source");
    ASSERT_EQ(fs::RemoveFile(c.to_folder, "to"), 0);
  }
}

TEST_F(FileSystemTest, IdentityTellsTheSameFileFromAnother) {
  Write(folder(), "one", "1");
  Write(folder(), "two", "1");
  ASSERT_EQ(fs::HardLink(folder(), "one", folder(), "one again"), 0) << errno;
  const UniqueFd opened(fs::OpenForReading(folder(), "one"));
  fs::EntryInfo one, one_again, two, one_opened;
  ASSERT_EQ(fs::InfoOfEntry(folder(), "one", one), 0);
  ASSERT_EQ(fs::InfoOfEntry(folder(), "one again", one_again), 0);
  ASSERT_EQ(fs::InfoOfEntry(folder(), "two", two), 0);
  ASSERT_EQ(fs::InfoOf(opened.get(), one_opened), 0);
  EXPECT_EQ(one.identity, one_again.identity);
  EXPECT_EQ(one.identity, one_opened.identity);
  EXPECT_FALSE(one.identity == two.identity);
  EXPECT_EQ(one.identity.device, two.identity.device);
  EXPECT_EQ(one.kind, fs::EntryKind::kRegular);
  EXPECT_EQ(one.size, 1u);
  // Files this program makes are its user's.
  EXPECT_EQ(one.owner, fs::CurrentOwner());
  fs::EntryInfo held;
  ASSERT_EQ(fs::InfoOf(folder(), held), 0);
  EXPECT_EQ(held.kind, fs::EntryKind::kFolder);
  EXPECT_EQ(held.owner, fs::CurrentOwner());
}

// Characters outside the Japanese ANSI code page (CP932): a surrogate pair
// (𠮷), a circled digit's variant, an emoji.
TEST_F(FileSystemTest, NamesOutsideTheAnsiCodePageAreKeptExactly) {
  const std::vector<std::string> names = {"𠮷野家の請求書.pdf", "①②③⑴.txt", "📄メモ.txt"};
  for (const std::string& name : names) Write(folder(), name, "content of " + name);
  ASSERT_EQ(fs::MakeFolder(folder(), "フォルダ📁"), 0);
  std::vector<std::string> expected = names;
  expected.push_back("フォルダ📁");
  EXPECT_EQ(Listing(folder()), Sorted(expected));
  for (const std::string& name : names) EXPECT_EQ(Read(folder(), name), "content of " + name);
  const UniqueFd inner(fs::OpenFolder(folder(), "フォルダ📁"));
  EXPECT_TRUE(inner.valid()) << errno;
  // The first open takes a whole path written the same way.
  const UniqueFd by_path(fs::OpenFolder(fs::kNoFolder, fs::NameOf(root_ / u8"フォルダ📁")));
  EXPECT_TRUE(by_path.valid()) << errno;
}

TEST_F(FileSystemTest, ListingLeavesOutDotsAndIsRepeatable) {
  EXPECT_EQ(Listing(folder()), std::vector<std::string>{});
  Write(folder(), "a", "");
  ASSERT_EQ(fs::MakeFolder(folder(), "b"), 0);
  EXPECT_EQ(Listing(folder()), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Listing(folder()), (std::vector<std::string>{"a", "b"}));
}

TEST_F(FileSystemTest, FailuresCarryTheirPosixErrors) {
  Write(folder(), "file", "x");
  ASSERT_EQ(fs::MakeFolder(folder(), "full"), 0);
  {  // held no longer: Windows removes no folder held open
    const UniqueFd full(fs::OpenFolder(folder(), "full"));
    Write(full.get(), "inside", "x");
  }
  const std::string too_long(300, 'n');
  struct Case {
    const char* what;
    std::function<int()> call;
    int error;
  };
  const std::vector<Case> cases = {
      {"open a missing file", [&] { return fs::OpenForReading(folder(), "missing"); }, ENOENT},
      {"open a missing folder", [&] { return fs::OpenFolder(folder(), "missing"); }, ENOENT},
      {"hold a file as a folder", [&] { return fs::OpenFolder(folder(), "file"); }, ENOTDIR},
      {"read a folder", [&] { return fs::OpenForReading(folder(), "full"); }, EISDIR},
      {"remove a folder as a file", [&] { return fs::RemoveFile(folder(), "full"); }, EISDIR},
      {"remove a full folder", [&] { return fs::RemoveEmptyFolder(folder(), "full"); }, ENOTEMPTY},
      {"remove a missing file", [&] { return fs::RemoveFile(folder(), "missing"); }, ENOENT},
      {"rename a missing file",
       [&] { return fs::RenameNoReplace(folder(), "missing", folder(), "x"); }, ENOENT},
      {"create a too long name", [&] { return fs::CreateExclusive(folder(), too_long, 0600); },
       ENAMETOOLONG},
      {"stat a missing entry",
       [&] {
         fs::EntryInfo info;
         return fs::InfoOfEntry(folder(), "missing", info);
       },
       ENOENT},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.call), c.error) << c.what;
  const UniqueFd full(fs::OpenFolder(folder(), "full"));
  EXPECT_EQ(Read(full.get(), "inside"), "x");
}

TEST_F(FileSystemTest, ARemovedNameIsFreeAtOnceWhileTheFileIsOpen) {
  if (UnderWine()) GTEST_SKIP() << "Wine frees a removed name when the file's last handle closes";
  Write(folder(), "file", "old");
  const UniqueFd still_open(fs::OpenForReading(folder(), "file"));
  ASSERT_EQ(fs::RemoveFile(folder(), "file"), 0) << errno;
  EXPECT_EQ(ErrorOf([&] { return fs::OpenForReading(folder(), "file"); }), ENOENT);
  Write(folder(), "file", "new");
  EXPECT_EQ(Read(folder(), "file"), "new");
  char buffer[3];
  ASSERT_EQ(fs::ReadAt(still_open.get(), buffer, 3, 0), 3);
  EXPECT_EQ(std::string(buffer, 3), "old");
}

TEST_F(FileSystemTest, ReadAtReadsFromTheOffsetToTheEnd) {
  Write(folder(), "file", "0123456789");
  const UniqueFd file(fs::OpenForReading(folder(), "file"));
  char buffer[16] = {};
  ASSERT_EQ(fs::ReadAt(file.get(), buffer, 4, 3), 4);
  EXPECT_EQ(std::string(buffer, 4), "3456");
  ASSERT_EQ(fs::ReadAt(file.get(), buffer, sizeof buffer, 8), 2);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(fs::ReadAt(file.get(), buffer, sizeof buffer, 10), 0);
}

TEST_F(FileSystemTest, WriteAtWritesAtTheOffsetWhateverWasReadBefore) {
  const UniqueFd file(fs::CreateExclusive(folder(), "file", 0600));
  ASSERT_TRUE(file.valid()) << errno;
  struct Step {
    const char* bytes;
    std::uint64_t offset;
    std::string then;  // the whole file after the step
  };
  const Step steps[] = {
      {"0123456789", 0, "0123456789"},
      {"ab", 3, "012ab56789"},
      {"XYZ", 8, "012ab567XYZ"},
      {"!", 13, std::string("012ab567XYZ\0\0!", 14)},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.then);
    const std::string bytes = step.bytes;
    // A read first moves the position on Windows: the write must not use it.
    char ignored[4];
    ASSERT_GE(fs::ReadAt(file.get(), ignored, sizeof ignored, 1), 0);
    ASSERT_EQ(fs::WriteAt(file.get(), bytes.data(), bytes.size(), step.offset),
              static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(Read(folder(), "file"), step.then);
  }
}

TEST_F(FileSystemTest, ScratchFilesAreDistinctAndGoWhenClosed) {
  {
    const UniqueFd first(fs::CreateScratchFile(folder()));
    const UniqueFd second(fs::CreateScratchFile(folder()));
    ASSERT_TRUE(first.valid() && second.valid()) << errno;
    const std::string bytes = "scratch";
    ASSERT_EQ(fs::WriteAt(first.get(), bytes.data(), bytes.size(), 0), 7);
    char buffer[16] = {};
    ASSERT_EQ(fs::ReadAt(first.get(), buffer, sizeof buffer, 0), 7);
    EXPECT_EQ(std::string(buffer, 7), "scratch");
    EXPECT_EQ(fs::ReadAt(second.get(), buffer, sizeof buffer, 0), 0);
    fs::EntryInfo one;
    fs::EntryInfo other;
    ASSERT_EQ(fs::InfoOf(first.get(), one), 0);
    ASSERT_EQ(fs::InfoOf(second.get(), other), 0);
    EXPECT_EQ(one.kind, fs::EntryKind::kRegular);
    EXPECT_NE(one.identity, other.identity);
  }
  EXPECT_EQ(Listing(folder()), std::vector<std::string>{});
}

}  // namespace
}  // namespace qm
