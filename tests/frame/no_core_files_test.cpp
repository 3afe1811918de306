#include "frame/NoCoreFiles.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qm {
namespace {

// In a child, so that the test process stays as it was: after the call the
// kernel writes no core file of the process and hides its memory.
TEST(NoCoreFiles, TheProcessIsNoLongerDumpable) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int before = ::prctl(PR_GET_DUMPABLE);
    KeepOutOfCoreFiles();
    ::_exit(before == 1 && ::prctl(PR_GET_DUMPABLE) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace qm
