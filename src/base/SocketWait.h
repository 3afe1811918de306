#pragma once
// Waiting until one of several sockets is ready, a time limit passes or a
// cancellation is requested, whichever comes first. With no socket at all it
// is a sleep that a cancellation cuts short.

#include <chrono>
#include <span>

#include "base/UniqueSocket.h"

namespace qm {

class Cancellation;

struct SocketWatch {
  enum class Interest { kReadable, kWritable };
  NativeSocket socket = kNoSocket;
  Interest interest = Interest::kReadable;
  // Set by the wait: readable or writable as asked, or an error or a hang-up
  // (the next call on the socket reports those).
  bool ready = false;
};

struct SocketWaitResult {
  enum class End { kReady, kTimedOut, kCancelled, kFailed };
  End end;
  int error = 0;  // of kFailed: errno, or WSAGetLastError() on Windows
};

// A request of `cancel` (may be null) wins over a socket that is ready too.
SocketWaitResult WaitForSockets(std::span<SocketWatch> watches, std::chrono::milliseconds limit,
                                const Cancellation* cancel);

}  // namespace qm
