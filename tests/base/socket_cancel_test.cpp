// A cancellation ends a wait on sockets, or a sleep, at once.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/Cancellation.h"
#include "base/SocketCalls.h"
#include "base/SocketWait.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(WaitForSockets, CancellationEndsTheWait) {
  // A listener is readable while a connection waits to be accepted.
  int port = 0;
  const UniqueSocket silent = ListenOnLoopback(4, port);
  const UniqueSocket ready = ListenOnLoopback(4, port);
  const UniqueSocket waiting = ConnectToLoopback(port);
  ASSERT_TRUE(silent.valid() && ready.valid() && waiting.valid()) << "error " << LastSocketError();

  struct Case {
    const char* name;
    NativeSocket socket;  // kNoSocket: no socket at all, a sleep
    bool requested_before;
  };
  const Case cases[] = {
      {"a sleep", kNoSocket, false},
      {"a silent socket", silent.get(), false},
      {"a ready socket, already cancelled", ready.get(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cancellation cancel;
    Clock::time_point requested = Clock::now();
    if (c.requested_before) cancel.Request();
    std::jthread requester([&] {
      if (c.requested_before) return;
      std::this_thread::sleep_for(200ms);
      requested = Clock::now();
      cancel.Request();
    });
    SocketWatch watch{c.socket, SocketWatch::Interest::kReadable};
    const std::size_t sockets = c.socket == kNoSocket ? 0 : 1;
    const SocketWaitResult result = WaitForSockets({&watch, sockets}, 60s, &cancel);
    const Clock::time_point ended = Clock::now();
    requester.join();
    EXPECT_EQ(result.end, SocketWaitResult::End::kCancelled);
    EXPECT_LT(ended - requested, 1s);
  }
}

}  // namespace
}  // namespace qm
