#include "save/EndedRun.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/EndedProcess.h"

namespace qm {
namespace {

TEST(RunNames, TellWhichNamesEndedRunsOfThisHostMade) {
  const std::string dead = std::to_string(testing::PidOfEndedProcess());
  const std::string alive = std::to_string(::getppid());
  const RunNames runs(".q-", "0a1b2c3d", "4e5f6a7b", ::getpid());
  const struct {
    std::string name;
    bool ended;
  } cases[] = {
      {".q-0a1b2c3d.4e5f6a7b-" + dead + "-work", true},
      {".q-0a1b2c3d.4e5f6a7b-" + alive + "-work", false},
      // Asked before this run names anything: an earlier process of this pid.
      {".q-0a1b2c3d.4e5f6a7b-" + std::to_string(::getpid()) + "-work", true},
      {".q-0a1b2c3d.00000000-" + alive + "-work", true},  // an earlier boot
      {".q-0a1b2c3d.00000000-" + dead + "-journal", true},
      {".q-99999999.4e5f6a7b-" + dead + "-work", false},  // another host
      {".q-99999999.00000000-" + dead + "-work", false},
      {".q-" + dead + "-work", true},  // the older form: the pid alone
      {".q-" + alive + "-work", false},
      {".q-0A1B2C3D.4e5f6a7b-" + dead + "-work", false},
      {".q-0a1b2c3.4e5f6a7b-" + dead + "-work", false},
      {".q-0a1b2c3d.4e5f6a7b-" + dead, false},
      {".q-0a1b2c3d.4e5f6a7b--work", false},
      {".q-0a1b2c3d-4e5f6a7b-" + dead + "-work", false},
      {".q-" + dead, false},
      {".q--1-work", false},
      {".x-0a1b2c3d.4e5f6a7b-" + dead + "-work", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(runs.MadeByEndedRun(c.name), c.ended) << c.name;
  EXPECT_EQ(runs.Prefix(), ".q-0a1b2c3d.4e5f6a7b-" + std::to_string(::getpid()) + "-");
}

TEST(RunNames, TokensAreEightLowercaseHexDigits) {
  EXPECT_EQ(BootToken("3F2504E0-4F89-11D3-9A0C-0305E82C3301\n"), "3f2504e0");
  EXPECT_EQ(BootToken("3f25"), "3f250000");
  EXPECT_EQ(BootToken(""), "00000000");
  EXPECT_EQ(HostToken("desk"), HostToken("desk"));
  EXPECT_NE(HostToken("desk"), HostToken("desk2"));
  for (const char* host : {"", "desk", "a-very-long-host-name.example.co.jp"}) {
    const std::string token = HostToken(host);
    EXPECT_EQ(token.size(), 8u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
  }
}

}  // namespace
}  // namespace qm
