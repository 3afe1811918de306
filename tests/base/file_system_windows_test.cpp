// What the held-folder file functions promise on Windows alone: names
// Windows refuses fail with EINVAL instead of making something else, names
// must be UTF-8, and a held folder cannot be renamed or removed.

#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS

#include <gtest/gtest.h>
#include <ntstatus.h>

#include <cerrno>
#include <string>

#include "base/FileSystem.h"
#include "base/ReadRegularFile.h"
#include "base/UniqueFd.h"
#include "base/WindowsErrors.h"
#include "tests/base/FileSystemFixture.h"

namespace qm {
namespace {

using FileSystemWindowsTest = testing::FileSystemFixture;

TEST_F(FileSystemWindowsTest, NamesWindowsRefusesFailWithEinval) {
  Write(folder(), "ok.txt", "x");
  for (const std::string name :
       {"CON",      "con",       "aux.txt", "NUL .txt",      "COM1",
        "lpt9.log", "COM\u00B9", "CONOUT$", "trailing dot.", "trailing space ",
        "a<b",      "a>b",       "a:b",     "a\"b",          "a|b",
        "a?b",      "a*b",       "a\\b",    "a/b",           "tab\tname",
        ".",        ".."}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ErrorOf([&] { return fs::CreateExclusive(folder(), name, 0600); }), EINVAL);
    EXPECT_EQ(ErrorOf([&] { return fs::MakeFolder(folder(), name); }), EINVAL);
    EXPECT_EQ(ErrorOf([&] { return fs::OpenForReading(folder(), name); }), EINVAL);
    EXPECT_EQ(ErrorOf([&] { return fs::OpenFolder(folder(), name); }), EINVAL);
    EXPECT_EQ(ErrorOf([&] { return fs::RenameNoReplace(folder(), "ok.txt", folder(), name); }),
              EINVAL);
    EXPECT_EQ(ErrorOf([&] { return fs::HardLink(folder(), "ok.txt", folder(), name); }), EINVAL);
  }
  // The last component of a whole path is judged alike: no console opened.
  EXPECT_EQ(ErrorOf([&] { return fs::OpenForReading(fs::kNoFolder, fs::NameOf(root_ / "CON")); }),
            EINVAL);
  std::vector<std::string> names;
  ASSERT_EQ(fs::ListFolder(folder(), names), 0);
  EXPECT_EQ(names, std::vector<std::string>{"ok.txt"});
  // Names that merely resemble a device are names like any other.
  for (const std::string name : {"CONSOLE", "COM10", "auxiliary.txt", "nul-file", "LPT"}) {
    EXPECT_EQ(ErrorOf([&] { return fs::CreateExclusive(folder(), name, 0600); }), 0) << name;
  }
}

TEST_F(FileSystemWindowsTest, NamesThatAreNotUtf8FailWithEilseq) {
  for (const std::string name : {"\xff.txt", "\x82\xa0.txt" /* あ in CP932 */, "\xed\xa0\x80"}) {
    EXPECT_EQ(ErrorOf([&] { return fs::CreateExclusive(folder(), name, 0600); }), EILSEQ);
  }
}

TEST_F(FileSystemWindowsTest, AHeldFolderCannotBeRenamedOrRemoved) {
  ASSERT_EQ(fs::MakeFolder(folder(), "held"), 0);
  const UniqueFd held(fs::OpenFolder(folder(), "held"));
  ASSERT_TRUE(held.valid()) << errno;
  EXPECT_EQ(ErrorOf([&] { return fs::RenameNoReplace(folder(), "held", folder(), "moved"); }),
            EBUSY);
  EXPECT_EQ(ErrorOf([&] { return fs::RemoveEmptyFolder(folder(), "held"); }), EBUSY);
  Write(held.get(), "file", "in the held folder");
  EXPECT_EQ(Read(folder(), "held\\file"), "<errno " + std::to_string(EINVAL) + ">");
  const UniqueFd again(fs::OpenFolder(fs::kNoFolder, fs::NameOf(root_ / "held")));
  EXPECT_EQ(Read(again.get(), "file"), "in the held folder");
}

// The settings and CA files are read through the same functions, their
// paths in UTF-16 all the way.
TEST_F(FileSystemWindowsTest, ReadRegularFileTakesOnlyARegularFileWithinTheLimit) {
  Write(folder(), "📄設定.reg", "abc");
  Write(folder(), "over-limit", std::string(17, 'x'));
  ASSERT_EQ(fs::MakeFolder(folder(), "folder"), 0);
  using enum RegularFileState;
  const struct {
    std::filesystem::path path;
    RegularFileState state;
    std::string bytes;
  } cases[] = {
      {root_ / u8"📄設定.reg", kRead, "abc"}, {root_ / "over-limit", kTooLarge, ""},
      {root_ / "missing", kMissing, ""},     {root_ / "missing" / "below", kMissing, ""},
      {root_ / "folder", kNotRegular, ""},   {root_ / "CON", kUnreadable, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(fs::NameOf(c.path));
    const RegularFileContent content = ReadRegularFile(c.path, 16, FinalLink::kRefuse);
    EXPECT_EQ(content.state, c.state);
    EXPECT_EQ(content.bytes, c.bytes);
  }
}

// Failures Wine's drive cannot produce, through the system's own mapping of
// statuses to Win32 errors.
TEST(WindowsErrors, StatusesBecomeTheirPosixErrors) {
  const struct {
    NTSTATUS status;
    int error;
  } cases[] = {
      {STATUS_DISK_FULL, ENOSPC},
      {STATUS_ACCESS_DENIED, EACCES},
      {STATUS_OBJECT_PATH_NOT_FOUND, ENOENT},
      {STATUS_NO_SUCH_FILE, ENOENT},
      {STATUS_DIRECTORY_NOT_EMPTY, ENOTEMPTY},
      {STATUS_MEDIA_WRITE_PROTECTED, EROFS},
      {STATUS_NOT_SAME_DEVICE, EXDEV},
      {STATUS_OBJECT_NAME_COLLISION, EEXIST},
      {STATUS_FILE_IS_A_DIRECTORY, EISDIR},
      {STATUS_INVALID_DEVICE_REQUEST, EOPNOTSUPP},
      {STATUS_DEVICE_DATA_ERROR, EIO},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrnoOfStatus(c.status), c.error) << std::hex << c.status;
  }
}

}  // namespace
}  // namespace qm
