// The scheduled run registered with Task Scheduler and removed again, as the
// window's context menu does it. Under Wine, whose Task Scheduler keeps each
// task as a file in system32\tasks (real Windows lets no user read that
// folder) and keeps of our definition only its description and settings:
// that the task holds the program, "-a" and the interval is the XML's test
// (scheduled_task_test); this one shows that Task Scheduler takes the task
// under this user's name, replaces it, and removes it.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "frame/ScheduledRun.h"
#include "secrets/ShellCommand.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

fs::path TasksFolder() {
  wchar_t folder[MAX_PATH] = {};
  ::GetSystemDirectoryW(folder, MAX_PATH);
  return fs::path(folder) / "tasks";
}

// The program's tasks: file name -> contents.
std::vector<std::string> OurTasks() {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(TasksFolder(), error)) {
    if (entry.path().filename().wstring().rfind(L"Quillmar (", 0) != 0) continue;
    // A task file is a few kilobytes; more is not read.
    std::string text(64 * 1024, '\0');
    std::ifstream in(entry.path(), std::ios::binary);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    found.push_back(std::move(text));
  }
  return found;
}

TEST(ScheduledRun, IsRegisteredUnderTheUsersNameReplacedAndRemovedAgain) {
  // Windows runs Task Scheduler always; a Wine prefix starts it on request.
  RunShellCommand("net start Schedule", {std::chrono::seconds(60), 4096, 4096});
  const fs::path program = LR"(C:\users\テスト\AppData\Local\Programs\Quillmar\quillmar.exe)";
  RegisterScheduledRun(program, std::chrono::minutes(20));
  RegisterScheduledRun(program, std::chrono::minutes(45));  // replaces it
  const std::vector<std::string> tasks = OurTasks();
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_NE(tasks[0].find("Quillmar -a"), std::string::npos);
  EXPECT_TRUE(RemoveScheduledRun());
  EXPECT_TRUE(OurTasks().empty());
}

}  // namespace
}  // namespace qm
