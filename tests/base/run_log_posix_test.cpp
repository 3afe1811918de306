// What the run log's file is on a POSIX system: private to the user whatever
// the umask, and never anything but a regular file.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>

#include "base/RunLog.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

TEST(RunLogPosix, TheFileIsPrivateToTheUser) {
  const testing::TempDir folder;
  const mode_t old_mask = ::umask(0);
  const bool written = RunLog(folder / "quillmar.log").Append("private");
  ::umask(old_mask);
  ASSERT_TRUE(written);
  struct stat info {};
  ASSERT_EQ(::stat((folder / "quillmar.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

// A FIFO in the log's place would hold a plain open up until a reader came.
TEST(RunLogPosix, AFifoInThePlaceOfTheLogIsRefusedAtOnce) {
  const testing::TempDir folder;
  ASSERT_EQ(::mkfifo((folder / "quillmar.log").c_str(), 0600), 0);
  EXPECT_FALSE(RunLog(folder / "quillmar.log").Append("nobody reads"));
}

}  // namespace
}  // namespace qm
