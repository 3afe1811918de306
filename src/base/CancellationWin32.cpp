#include <windows.h>

#include <string>

#include "base/Cancellation.h"
#include "base/Failure.h"

namespace qm {

// A manual-reset event: once set it stays signalled for every wait, as the
// POSIX descriptor stays readable, until Reset.
Cancellation::Cancellation() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (event_ == nullptr) {
    const DWORD error = ::GetLastError();
    throw Failure(FailureKind::Internal, Cause::kSystem,
                  "cannot make an event object (error " + std::to_string(error) + ")",
                  static_cast<int>(error));
  }
}

Cancellation::~Cancellation() { ::CloseHandle(event_); }

void Cancellation::Request() {
  requested_ = true;
  ::SetEvent(event_);
}

void Cancellation::Reset() {
  ::ResetEvent(event_);
  requested_ = false;
}

int PollableCancelFd(const Cancellation*) { return -1; }

}  // namespace qm
