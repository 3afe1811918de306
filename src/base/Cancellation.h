#pragma once
// A request to stop, made on one thread and seen on another: at once through
// a flag, and through something a waiting thread watches beside its socket, so
// that it wakes up for it too: a descriptor that becomes readable (POSIX,
// Cancellation.cpp) or an event object that becomes signalled (Windows,
// CancellationWin32.cpp).

#include <atomic>
#include <string>

#include "base/Failure.h"
#ifndef _WIN32
#include "base/UniqueFd.h"
#endif

namespace qm {

class Cancellation {
 public:
  Cancellation();  // throws Failure(Internal) when no descriptor or handle is left
  ~Cancellation();
  Cancellation(const Cancellation&) = delete;
  Cancellation& operator=(const Cancellation&) = delete;

  void Request();  // from any thread
  bool Requested() const { return requested_.load(); }
#ifdef _WIN32
  // The event object's HANDLE, signalled from the first Request until Reset:
  // wait for it beside a socket's event or a process.
  void* event() const { return event_; }
#else
  // Readable from the first Request until Reset: poll it beside a socket.
  int fd() const { return fd_.get(); }
#endif
  // Ready for the next piece of work.
  void Reset();

 private:
  std::atomic<bool> requested_ = false;
#ifdef _WIN32
  void* event_;  // a manual-reset event, closed with the Cancellation
#else
  UniqueFd fd_;
#endif
};

// A descriptor that becomes readable once `cancel` is requested, for a wait
// that polls descriptors (libcurl's); -1 without a cancellation, or where
// there is none to poll (Windows): such a wait looks at Requested() at
// least every kCancelLookInterval.
int PollableCancelFd(const Cancellation* cancel);
inline constexpr int kCancelLookIntervalMs = 50;

// The failure of a wait that a cancellation ended; `what` names the wait.
inline Failure CancelledWhile(const std::string& what) {
  return Failure(FailureKind::MailStore, Cause::kCancelled, "cancelled while " + what);
}

}  // namespace qm
