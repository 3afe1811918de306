// Where the run log goes on Linux: the XDG state folder, by its rules.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/RunLogLocation.h"
#include "tests/support/EnvOverride.h"

namespace qm {
namespace {

using testing::EnvOverride;

TEST(RunLogLocation, FollowsTheXdgStateFolderRules) {
  const struct {
    const char* name;
    std::string state_home;  // "" is as good as unset
    std::string home;
    std::filesystem::path expected;
  } cases[] = {
      {"state home set", "/var/state", "/home/u", "/var/state/quillmar/quillmar.log"},
      {"state home empty", "", "/home/u", "/home/u/.local/state/quillmar/quillmar.log"},
      {"state home relative", "state", "/home/u", "/home/u/.local/state/quillmar/quillmar.log"},
      {"no home either", "", "", ""},
      {"relative home", "", "home/u", ""},
  };
  for (const auto& c : cases) {
    const EnvOverride state_home("XDG_STATE_HOME", c.state_home);
    const EnvOverride home("HOME", c.home);
    EXPECT_EQ(RunLogPath(), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace qm
