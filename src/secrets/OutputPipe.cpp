#include "secrets/OutputPipe.h"

#include <algorithm>
#include <string>

#include "base/Failure.h"
#include "secrets/Win32Text.h"

namespace qm {
namespace {

Failure PipeFailure(DWORD error) {
  return Failure(FailureKind::SignOn, Cause::kPasswordCommand,
                 "cannot make a pipe for the password command: " + SystemErrorText(error),
                 static_cast<int>(error));
}

// Unique among the pipes of every process: the process, the thread, the
// moment and the role. FILE_FLAG_FIRST_PIPE_INSTANCE refuses a name in use.
std::wstring FreshPipeName(const wchar_t* role) {
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  return L"\\\\.\\pipe\\quillmar-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::to_wstring(::GetCurrentThreadId()) + L"-" + std::to_wstring(now.QuadPart) + L"-" +
         role;
}

}  // namespace

OutputPipe::OutputPipe(const wchar_t* role, std::string& sink, std::size_t limit, bool& overflowed)
    : sink_(sink), limit_(limit), overflowed_(overflowed) {
  const std::wstring name = FreshPipeName(role);
  pipe_.Reset(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
      sizeof buffer_, 0, nullptr));
  if (!pipe_.valid()) throw PipeFailure(::GetLastError());
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  child_end_.Reset(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!child_end_.valid()) throw PipeFailure(::GetLastError());
  ready_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ready_.valid()) throw PipeFailure(::GetLastError());
  overlapped_.hEvent = ready_.get();
}

OutputPipe::~OutputPipe() {
  if (pending_) {
    ::CancelIoEx(pipe_.get(), &overlapped_);
    DWORD count = 0;
    ::GetOverlappedResult(pipe_.get(), &overlapped_, &count, TRUE);
  }
  ::SecureZeroMemory(buffer_, sizeof buffer_);
}

void OutputPipe::Start() { Read(); }

void OutputPipe::Collect() {
  if (pending_ && TakeCompleted(FALSE)) Read();
}

void OutputPipe::Finish() {
  while (pending_ && TakeCompleted(FALSE)) Read();
  if (!pending_) return;
  // Nothing more is there now: stop the read, keeping what it got meanwhile.
  ::CancelIoEx(pipe_.get(), &overlapped_);
  TakeCompleted(TRUE);
  open_ = false;
}

// A read that completes at once completes through the event all the same, so
// one path takes every read.
void OutputPipe::Read() {
  if (!open_) return;
  if (!::ReadFile(pipe_.get(), buffer_, sizeof buffer_, nullptr, &overlapped_) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    open_ = false;  // ERROR_BROKEN_PIPE: every writer has gone
    return;
  }
  pending_ = true;
}

bool OutputPipe::TakeCompleted(BOOL wait) {
  DWORD count = 0;
  if (::GetOverlappedResult(pipe_.get(), &overlapped_, &count, wait)) {
    pending_ = false;
    Append(count);
    return true;
  }
  if (::GetLastError() == ERROR_IO_INCOMPLETE) return false;
  pending_ = false;  // broken (every writer gone) or cancelled
  open_ = false;
  return false;
}

void OutputPipe::Append(DWORD count) {
  const std::size_t room = limit_ > sink_.size() ? limit_ - sink_.size() : 0;
  if (count > room) overflowed_ = true;
  sink_.append(buffer_, std::min<std::size_t>(room, count));
  ::SecureZeroMemory(buffer_, count);
}

}  // namespace qm
