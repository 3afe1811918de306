#pragma once
// A request to stop, made on one thread and seen on another: at once through
// a flag, and through a descriptor that becomes readable, so that a thread
// waiting on a socket wakes up for it too.

#include <atomic>
#include <string>

#include "base/Failure.h"
#include "base/UniqueFd.h"

namespace qm {

class Cancellation {
 public:
  Cancellation();  // throws Failure(Internal) when no descriptor is left
  Cancellation(const Cancellation&) = delete;
  Cancellation& operator=(const Cancellation&) = delete;

  void Request();  // from any thread
  bool Requested() const { return requested_.load(); }
  // Readable from the first Request until Reset: poll it beside a socket.
  int fd() const { return fd_.get(); }
  // Ready for the next piece of work.
  void Reset();

 private:
  std::atomic<bool> requested_ = false;
  UniqueFd fd_;
};

// The failure of a wait that a cancellation ended; `what` names the wait.
Failure CancelledWhile(const std::string& what);

}  // namespace qm
