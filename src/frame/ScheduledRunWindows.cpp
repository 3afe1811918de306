#include <windows.h>

#include <chrono>
#include <ctime>
#include <fstream>

#include "base/Failure.h"
#include "base/WindowsText.h"
#include "frame/ScheduledRun.h"
#include "secrets/ShellCommand.h"

namespace qm {
namespace {

constexpr ShellCommandLimits kSchtasksLimits{std::chrono::seconds(30), 64 * 1024, 64 * 1024};

// Task names are the machine's: each user's task carries the user's name.
std::string TaskName() {
  wchar_t user[257] = {};
  DWORD size = 257;
  std::string name;
  if (!::GetUserNameW(user, &size) || Utf8Of(user, name) != 0) name.clear();
  return name.empty() ? "Quillmar" : "Quillmar (" + name + ")";
}

std::string SchtasksPath() {
  wchar_t folder[MAX_PATH] = {};
  std::string path;
  if (::GetSystemDirectoryW(folder, MAX_PATH) == 0 || Utf8Of(folder, path) != 0) return "schtasks";
  return path + "\\schtasks.exe";
}

ShellCommandResult Schtasks(const std::string& arguments) {
  return RunShellCommand("\"" + SchtasksPath() + "\" " + arguments, kSchtasksLimits);
}

Failure Refused(const std::string& what, const ShellCommandResult& result) {
  return Failure(FailureKind::Internal, Cause::kSystem,
                 "Task Scheduler refused to " + what + " (schtasks exit code " +
                     std::to_string(result.exit_code) + "): " + result.err + result.out,
                 EIO);
}

std::string LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

// The XML as schtasks reads a file: UTF-16 with its byte-order mark.
std::filesystem::path WriteTaskFile(const std::string& xml) {
  std::wstring utf16;
  if (Utf16Of(xml, utf16) != 0) {
    throw Failure(FailureKind::Internal, Cause::kInternal, "the program's path is not UTF-8");
  }
  wchar_t folder[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, folder);
  const std::filesystem::path file =
      std::filesystem::path(folder) /
      ("quillmar-task-" + std::to_string(::GetCurrentProcessId()) + ".xml");
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write("\xff\xfe", 2);
  out.write(reinterpret_cast<const char*>(utf16.data()),
            static_cast<std::streamsize>(utf16.size() * sizeof(wchar_t)));
  if (!out.flush()) {
    throw FileFailure(FailureKind::Internal, EIO, "writing the task for Task Scheduler");
  }
  return file;
}

}  // namespace

bool ScheduledRunOffered() { return true; }

void RegisterScheduledRun(const std::filesystem::path& program, std::chrono::minutes every) {
  std::string program_text;
  if (Utf8Of(program.native(), program_text) != 0) {
    throw Failure(FailureKind::Internal, Cause::kInternal, "the program's path is not UTF-16");
  }
  const std::filesystem::path file =
      WriteTaskFile(ScheduledTaskXml(program_text, every, LocalTimeNow()));
  struct RemoveOnExit {
    const std::filesystem::path& file;
    ~RemoveOnExit() { ::DeleteFileW(file.c_str()); }
  } remove_on_exit{file};
  std::string file_text;
  Utf8Of(file.native(), file_text);
  const ShellCommandResult result =
      Schtasks("/Create /TN \"" + TaskName() + "\" /XML \"" + file_text + "\" /F");
  if (result.exit_code != 0) throw Refused("add the scheduled run", result);
}

// A failed delete is no failure when there is no such task.
bool RemoveScheduledRun() {
  const std::string name = "\"" + TaskName() + "\"";
  const ShellCommandResult result = Schtasks("/Delete /TN " + name + " /F");
  if (result.exit_code == 0) return true;
  if (Schtasks("/Query /TN " + name).exit_code != 0) return false;
  throw Refused("remove the scheduled run", result);
}

}  // namespace qm
