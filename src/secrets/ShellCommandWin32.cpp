#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "base/WindowsText.h"
#include "base/WipeSecret.h"
#include "secrets/OutputPipe.h"
#include "secrets/ShellCommand.h"
#include "base/Win32Handle.h"
#include "secrets/Win32Text.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

Failure StartFailure(DWORD error) {
  return Failure(FailureKind::SignOn, Cause::kPasswordCommand,
                 "cannot start the password command with cmd.exe: " + SystemErrorText(error),
                 static_cast<int>(error));
}

// cmd.exe from the system folder, never one found first on the search path.
std::wstring ShellPath() {
  std::array<wchar_t, MAX_PATH> folder{};
  const UINT length = ::GetSystemDirectoryW(folder.data(), folder.size());
  if (length == 0 || length >= folder.size()) throw StartFailure(::GetLastError());
  return std::wstring(folder.data(), length) + L"\\cmd.exe";
}

// /d: no AutoRun commands of the registry; /s /c "...": cmd takes off the
// outer quotes and runs the rest exactly as typed at its prompt, quotes,
// pipes and "&" included.
std::wstring ShellCommandLine(const std::string& command) {
  std::wstring wide;
  if (Utf16Of(command, wide) != 0) {
    throw Failure(FailureKind::SignOn, Cause::kPasswordCommand,
                  "the password command (\"PasswordCommand\" of the mail profile) is not text "
                  "in UTF-8");
  }
  std::wstring line = L"cmd.exe /d /s /c \"" + wide + L"\"";
  WipeWide(wide);
  return line;
}

// An empty input: the device NUL, which reads as its end at once.
Win32Handle EmptyInput() {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  Win32Handle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!input.valid()) throw StartFailure(::GetLastError());
  return input;
}

// A job whose processes all end when its last handle closes: the command and
// everything it starts join it, so TerminateJobObject ends the whole tree.
Win32Handle KillOnCloseJob() {
  Win32Handle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job.valid()) throw StartFailure(::GetLastError());
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
    throw StartFailure(::GetLastError());
  }
  return job;
}

// The handles the command inherits, and no other inheritable handle this
// process holds (another thread's pipe would otherwise stay open in it).
class InheritedHandles {
 public:
  explicit InheritedHandles(std::array<HANDLE, 3> handles) : handles_(handles) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!::InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
      list_ = nullptr;
      throw StartFailure(::GetLastError());
    }
    if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     sizeof(HANDLE) * handles_.size(), nullptr, nullptr)) {
      throw StartFailure(::GetLastError());
    }
  }
  ~InheritedHandles() {
    if (list_ != nullptr) ::DeleteProcThreadAttributeList(list_);
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::array<HANDLE, 3> handles_;
  std::vector<std::uint8_t> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Starts cmd.exe suspended, puts it in `job`, then lets it run: nothing it
// starts can escape the job. No console window shows.
Win32Handle StartInJob(const std::string& command, HANDLE job, HANDLE input, HANDLE out,
                       HANDLE err) {
  const std::wstring shell = ShellPath();
  std::wstring line = ShellCommandLine(command);
  const InheritedHandles inherited({input, out, err});
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = out;
  startup.StartupInfo.hStdError = err;
  startup.lpAttributeList = inherited.get();
  PROCESS_INFORMATION started{};
  const BOOL ok = ::CreateProcessW(shell.c_str(), line.data(), nullptr, nullptr, TRUE,
                                   CREATE_SUSPENDED | CREATE_NO_WINDOW |
                                       CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT,
                                   nullptr, nullptr, &startup.StartupInfo, &started);
  const DWORD error = ::GetLastError();
  WipeWide(line);  // a command line may carry a secret of its own
  if (!ok) throw StartFailure(error);
  Win32Handle process(started.hProcess);
  const Win32Handle thread(started.hThread);
  if (!::AssignProcessToJobObject(job, process.get())) {
    const DWORD assign_error = ::GetLastError();
    ::TerminateProcess(process.get(), 1);
    throw StartFailure(assign_error);
  }
  ::ResumeThread(thread.get());
  return process;
}

// The started command's outputs, collected until cmd.exe ends. Whatever is
// left of its tree is killed when this goes (the job's last handle closes).
class Run {
 public:
  Run(const std::string& command, const ShellCommandLimits& limits)
      : out_(L"out", result_.out, limits.out_bytes, result_.out_overflowed),
        err_(L"err", result_.err, limits.err_bytes, err_overflowed_),
        job_(KillOnCloseJob()) {
    result_.out.reserve(limits.out_bytes);  // never moved, so one wipe covers every byte
    const Win32Handle input = EmptyInput();
    process_ = StartInJob(command, job_.get(), input.get(), out_.child_end(), err_.child_end());
    out_.CloseChildEnd();  // the pipes end when the command's copies close
    err_.CloseChildEnd();
    out_.Start();
    err_.Start();
  }
  ~Run() {
    if (!ended_) Kill();
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Waits up to `wait` for output or the command's end; true when it ended.
  bool Await(std::chrono::milliseconds wait, const Cancellation* cancel) {
    std::vector<HANDLE> handles = {process_.get()};
    if (out_.open()) handles.push_back(out_.ready());
    if (err_.open()) handles.push_back(err_.ready());
    if (cancel != nullptr) handles.push_back(cancel->event());
    const DWORD woke = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                FALSE, static_cast<DWORD>(wait.count()));
    if (woke == WAIT_FAILED) throw StartFailure(::GetLastError());
    if (cancel != nullptr && cancel->Requested()) throw CancelledWhile("the password command");
    out_.Collect();
    err_.Collect();
    if (::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) return false;
    ended_ = true;
    out_.Finish();  // what it wrote just before its end
    err_.Finish();
    DWORD code = 0;
    if (::GetExitCodeProcess(process_.get(), &code)) result_.exit_code = static_cast<int>(code);
    return true;
  }

  void KillForTimeOut() {
    Kill();
    result_.timed_out = true;
  }

  // The output as UTF-8: programs print UTF-8 or, like cmd.exe's own echo,
  // the OEM code page.
  ShellCommandResult TakeResult() {
    const UINT code_page = ::GetOEMCP();
    std::string out = Utf8FromConsoleBytes(result_.out, code_page);
    WipeSecret(result_.out);
    result_.out.reserve(out.size());
    result_.out.assign(out);
    WipeSecret(out);
    result_.err = Utf8FromConsoleBytes(result_.err, code_page);
    return std::move(result_);
  }

 private:
  void Kill() {
    ::TerminateJobObject(job_.get(), 1);
    ::WaitForSingleObject(process_.get(), INFINITE);
    ended_ = true;
  }

  ShellCommandResult result_;
  bool err_overflowed_ = false;  // the error text is only ever the start
  OutputPipe out_;
  OutputPipe err_;
  Win32Handle job_;
  Win32Handle process_;
  bool ended_ = false;
};

}  // namespace

ShellCommandResult::~ShellCommandResult() { WipeSecret(out); }

// No signal ends a program on Windows; a result never names one.
std::string SignalName(int signal) { return std::to_string(signal); }

ShellCommandResult RunShellCommand(const std::string& command, const ShellCommandLimits& limits,
                                   const Cancellation* cancel) {
  Run run(command, limits);
  const Clock::time_point deadline = Clock::now() + limits.time;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      run.KillForTimeOut();
      break;
    }
    if (run.Await(left, cancel)) break;
  }
  return run.TakeResult();
}

}  // namespace qm
