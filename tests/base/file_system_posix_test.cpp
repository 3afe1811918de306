// What the held-folder file functions promise on POSIX alone: symbolic links
// are never followed, and a held folder renamed away still reaches its files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "tests/base/FileSystemFixture.h"

namespace qm {
namespace {

using FileSystemPosixTest = testing::FileSystemFixture;

TEST_F(FileSystemPosixTest, NoCallFollowsALink) {
  Write(folder(), "target", "secret");
  ASSERT_EQ(fs::MakeFolder(folder(), "target folder"), 0);
  ASSERT_EQ(::symlinkat("target", folder(), "to file"), 0);
  ASSERT_EQ(::symlinkat("target folder", folder(), "to folder"), 0);
  ASSERT_EQ(::symlinkat("nowhere", folder(), "dangling"), 0);
  for (const std::string link : {"to file", "to folder", "dangling"}) {
    SCOPED_TRACE(link);
    EXPECT_EQ(ErrorOf([&] { return fs::OpenForReading(folder(), link); }), ELOOP);
    EXPECT_NE(ErrorOf([&] { return fs::OpenFolder(folder(), link); }), 0);
    EXPECT_EQ(ErrorOf([&] { return fs::CreateExclusive(folder(), link, 0600); }), EEXIST);
    fs::EntryInfo info;
    ASSERT_EQ(fs::InfoOfEntry(folder(), link, info), 0);
    EXPECT_EQ(info.kind, fs::EntryKind::kLink);
  }
  EXPECT_FALSE(std::filesystem::exists(root_ / "nowhere"));
  // Removing a link removes the link, not what it names.
  ASSERT_EQ(fs::RemoveFile(folder(), "to file"), 0);
  EXPECT_EQ(Read(folder(), "target"), "secret");
  // Following is asked for explicitly.
  const UniqueFd followed(fs::OpenForReading(folder(), "to folder", fs::FinalLink::kFollow));
  EXPECT_EQ(followed.valid() ? 0 : errno, EISDIR);
}

TEST_F(FileSystemPosixTest, AHeldFolderRenamedAwayStillReachesItsFiles) {
  ASSERT_EQ(fs::MakeFolder(folder(), "held"), 0);
  const UniqueFd held(fs::OpenFolder(folder(), "held"));
  ASSERT_TRUE(held.valid());
  ASSERT_EQ(fs::RenameNoReplace(folder(), "held", folder(), "moved"), 0);
  ASSERT_EQ(fs::MakeFolder(folder(), "held"), 0);  // a stranger in its old place
  Write(held.get(), "file", "in the held folder");
  EXPECT_EQ(Read(folder(), "held/file"), "<errno " + std::to_string(ENOENT) + ">");
  const UniqueFd moved(fs::OpenFolder(folder(), "moved"));
  EXPECT_EQ(Read(moved.get(), "file"), "in the held folder");
}

TEST_F(FileSystemPosixTest, NewFoldersAndFilesArePrivate) {
  ASSERT_EQ(fs::MakeFolder(folder(), "folder"), 0);
  Write(folder(), "file", "");
  EXPECT_EQ(std::filesystem::status(root_ / "folder").permissions(),
            std::filesystem::perms::owner_all);
  EXPECT_EQ(std::filesystem::status(root_ / "file").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
}  // namespace qm
