// The password command on Windows: cmd.exe, its output in UTF-8 or the OEM
// code page, and the job object that ends every process it started.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "secrets/PasswordCommand.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The stand-in command built beside this test (password_command_helper.cpp),
// quoted for cmd.exe.
std::string Helper() {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return "\"" + (fs::path(self).parent_path() / "password_command_helper.exe").string() + "\"";
}

// A folder of its own for one test, removed at its end.
class PidFolder {
 public:
  PidFolder()
      : path_(fs::temp_directory_path() /
              ("quillmar-test-" + std::to_string(::GetCurrentProcessId()))) {
    fs::create_directories(path_);
  }
  ~PidFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path File() const { return path_ / "pid"; }
  std::string QuotedFile() const { return "\"" + File().string() + "\""; }

  // The process id the helper wrote, once it has (within `limit`).
  std::optional<DWORD> AwaitPid(std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!fs::exists(File())) {
      if (std::chrono::steady_clock::now() >= end) return std::nullopt;
      std::this_thread::sleep_for(20ms);
    }
    DWORD pid = 0;
    std::ifstream(File()) >> pid;
    return pid;
  }

 private:
  fs::path path_;
};

// True when process `pid` has ended, or ends within `limit`.
bool Ends(DWORD pid, std::chrono::milliseconds limit) {
  const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return true;  // gone already
  const bool ended = ::WaitForSingleObject(process, static_cast<DWORD>(limit.count())) == 0;
  ::CloseHandle(process);
  return ended;
}

std::optional<Failure> FailureOf(const std::string& command, std::chrono::milliseconds limit) {
  try {
    RunPasswordCommand(command, limit);
  } catch (const Failure& failure) {
    return failure;
  }
  return std::nullopt;
}

TEST(PasswordCommandWin32Test, TheFirstLineOfOutputIsThePasswordInUtf8) {
  // The OEM code page is what cmd.exe's echo prints in; Wine takes it from
  // the locale, which the test preset sets to Japanese.
  ASSERT_EQ(::GetOEMCP(), 932u) << "run with LC_ALL=ja_JP.UTF-8";
  ::SetEnvironmentVariableW(L"QM_TEST_SECRET", L"from the environment");
  const struct {
    std::string command;
    std::string line;
  } cases[] = {
      {"echo hunter2", "hunter2"},
      {"echo hunter2& echo second line", "hunter2"},
      {"echo %QM_TEST_SECRET%", "from the environment"},
      {"echo warning 1>&2& echo ya29.token", "ya29.token"},
      // cmd.exe's own echo prints in code page 932...
      {"echo パスワード", "パスワード"},
      // ...programs print UTF-8 or code page 932, both taken.
      {Helper() + " bytes e38391e382b9e383afe383bce38389", "パスワード"},
      {Helper() + " bytes 83708358838f815b8368", "パスワード"},
      {Helper() + " bytes 6372206c660d0a", "cr lf"},
      // A helper left in the background holds the output open; cmd.exe's
      // exit ends the run all the same (else this would run out of time).
      {"start \"\" /b " + Helper() + " wait& echo quick", "quick"},
      // Far more output than a password: the first line still comes whole.
      {Helper() + " flood 300000 first", "first"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(RunPasswordCommand(c.command, 20s), c.line);
  }
  ::SetEnvironmentVariableW(L"QM_TEST_SECRET", nullptr);
}

TEST(PasswordCommandWin32Test, EveryWayOfFailingIsASignOnFailureWithTheCommandsOwnWords) {
  const struct {
    std::string command;
    std::chrono::milliseconds limit;
    std::string says;
  } cases[] = {
      {"echo s3cret-output& echo gpg: decryption failed 1>&2& exit /b 2", 20s,
       "failed with exit status 2: gpg: decryption failed"},
      {"exit /b 9", 20s, "failed with exit status 9"},
      {"rem", 20s, "printed no password"},
      {"echo.& echo second", 20s, "printed no password"},
      {Helper() + " flood 100000", 20s, "printed more than 64 KiB without ending its first line"},
      {"echo waiting for the agent 1>&2& " + Helper() + " wait", 3s,
       "did not finish within 3 seconds: waiting for the agent"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const std::optional<Failure> failure = FailureOf(c.command, c.limit);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->kind(), FailureKind::SignOn);
    EXPECT_EQ(failure->cause(), Cause::kPasswordCommand);
    const std::string text = failure->what();
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_EQ(text.find("s3cret-output"), std::string::npos) << text;
  }
}

// The command starts a program that starts one more; the last must not
// outlive the time limit.
TEST(PasswordCommandWin32Test, ATimeOutKillsEveryProcessTheCommandStarted) {
  const PidFolder folder;
  const std::optional<Failure> failure = FailureOf(Helper() + " tree " + folder.QuotedFile(), 4s);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->cause(), Cause::kPasswordCommand);
  const std::optional<DWORD> pid = folder.AwaitPid(0ms);
  ASSERT_TRUE(pid.has_value()) << "the grandchild never started";
  EXPECT_TRUE(Ends(*pid, 5s));
}

// The user cancels once the command runs: the wait ends, and so does the
// command.
TEST(PasswordCommandWin32Test, ACancelEndsTheWaitAndTheCommand) {
  const PidFolder folder;
  Cancellation cancel;
  std::atomic<DWORD> pid = 0;
  std::thread canceller([&] {
    pid = folder.AwaitPid(20s).value_or(0);
    cancel.Request();
  });
  try {
    RunPasswordCommand(Helper() + " leaf " + folder.QuotedFile(), 30s, &cancel);
    ADD_FAILURE() << "the command was not cancelled";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.cause(), Cause::kCancelled);
  }
  canceller.join();
  ASSERT_NE(pid.load(), 0u);
  EXPECT_TRUE(Ends(pid, 5s));
}

}  // namespace
}  // namespace qm
