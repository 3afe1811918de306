#include "secrets/PasswordCommand.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "tests/support/EnvOverride.h"
#include "tests/support/FileBytes.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitForChange.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using testing::EnvOverride;
using testing::TempDir;

// The failure the command gives, or nothing when it gives a line.
std::optional<Failure> FailureOf(const std::string& command, std::chrono::milliseconds limit) {
  try {
    RunPasswordCommand(command, limit);
  } catch (const Failure& failure) {
    return failure;
  }
  return std::nullopt;
}

TEST(PasswordCommandTest, TheFirstLineOfOutputIsThePassword) {
  const EnvOverride variable("QM_TEST_SECRET", "from the environment");
  const struct {
    const char* command;
    std::string line;
  } cases[] = {
      {"printf 'hunter2\\nsecond line\\n'", "hunter2"},
      {"printf 'no newline'", "no newline"},
      {"printf 'crlf\\r\\n'", "crlf"},
      {"printf ' kept  blanks \\n'", " kept  blanks "},
      {"printf 'パスワード\\n'", "パスワード"},
      {"printf '%s\\n' \"$QM_TEST_SECRET\"", "from the environment"},
      {"echo warning >&2; echo ya29.token", "ya29.token"},
      // A helper left in the background holds the output open; the shell's
      // exit ends the run all the same (else this would run out of time).
      {"echo quick; sleep 5 &", "quick"},
      // Far more output than a password: the first line still comes whole.
      {"echo first; head -c 300000 /dev/zero", "first"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(RunPasswordCommand(c.command, 4s), c.line);
  }
}

TEST(PasswordCommandTest, EveryWayOfFailingIsASignOnFailureWithTheCommandsOwnWords) {
  const struct {
    const char* command;
    std::chrono::milliseconds limit;
    std::string says;
  } cases[] = {
      {"echo 'gpg: decryption failed' >&2; exit 2", 4s,
       "failed with exit status 2: gpg: decryption failed"},
      {"echo 'line one' >&2; printf 'line\\ttwo\\n' >&2; exit 1", 4s,
       "exit status 1: line one line two"},
      {"kill -TERM $$", 4s, "ended by signal SIGTERM"},
      {"true", 4s, "printed no password"},
      {"printf '\\nsecond'", 4s, "printed no password"},
      {"cat", 4s, "printed no password"},  // no input to wait for: it ends at once
      {"echo 'waiting for the agent' >&2; sleep 20", 300ms,
       "did not finish within 1 seconds: waiting for the agent"},
      {"exec 2>/dev/null; exit 9", 4s, "failed with exit status 9"},
      // A first line past the bound would come cut short: no password at all.
      {"head -c 100000 /dev/zero | tr '\\0' x", 4s,
       "printed more than 64 KiB without ending its first line"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const std::optional<Failure> failure = FailureOf(c.command, c.limit);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->kind(), FailureKind::SignOn);
    EXPECT_EQ(failure->cause(), Cause::kPasswordCommand);
    EXPECT_NE(std::string(failure->what()).find(c.says), std::string::npos) << failure->what();
  }
}

TEST(PasswordCommandTest, AFailureNeverCarriesTheOutputAndKeepsOnlyTheStartOfTheErrors) {
  const std::optional<Failure> failure =
      FailureOf("echo s3cret-output; head -c 100000 /dev/zero | tr '\\0' e >&2; exit 1", 4s);
  ASSERT_TRUE(failure.has_value());
  const std::string text = failure->what();
  EXPECT_EQ(text.find("s3cret-output"), std::string::npos);
  EXPECT_LT(text.size(), 1200u);
  EXPECT_NE(text.find("eeee"), std::string::npos);
}

TEST(PasswordCommandTest, ATimeOutKillsEveryProcessTheCommandStarted) {
  TempDir dir;
  const auto pid_file = dir / "pid";
  const std::string command = "sh -c 'echo $$ > " + pid_file.string() + "; exec sleep 30' & wait";
  const std::optional<Failure> failure = FailureOf(command, 500ms);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->cause(), Cause::kPasswordCommand);
  const std::string pid_text = testing::ReadFile(pid_file);
  ASSERT_FALSE(pid_text.empty());
  EXPECT_TRUE(testing::WaitForProcessEnd(static_cast<pid_t>(std::stol(pid_text)), 5s));
}

// The user cancels once the command has started.
TEST(PasswordCommandTest, ACancelEndsTheWait) {
  TempDir dir;
  const auto started = dir / "started";
  Cancellation cancel;
  std::thread canceller([&] {
    testing::WaitForChange(
        dir.path(), [&] { return std::filesystem::exists(started); }, 20s);
    cancel.Request();
  });
  try {
    RunPasswordCommand("touch '" + started.string() + "'; sleep 20", 20s, &cancel);
    ADD_FAILURE() << "the command was not cancelled";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.cause(), Cause::kCancelled);
  }
  canceller.join();
}

}  // namespace
}  // namespace qm
