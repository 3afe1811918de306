// Where the run log goes on Windows: Quillmar\quillmar.log in the user's
// local application data folder, the one LOCALAPPDATA names in a logged-in
// user's environment.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "settings/RunLogLocation.h"

namespace qm {
namespace {

TEST(RunLogLocation, IsInTheLocalApplicationDataFolder) {
  const wchar_t* local_app_data = _wgetenv(L"LOCALAPPDATA");
  ASSERT_NE(local_app_data, nullptr);
  const std::filesystem::path path = RunLogPath();
  EXPECT_TRUE(path.is_absolute()) << path;
  EXPECT_EQ(path.filename(), L"quillmar.log");
  EXPECT_EQ(path.parent_path().filename(), L"Quillmar");
  EXPECT_TRUE(std::filesystem::equivalent(path.parent_path().parent_path(), local_app_data))
      << path;
}

}  // namespace
}  // namespace qm
