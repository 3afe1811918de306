#include <errno.h>
#include <poll.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "base/Cancellation.h"
#include "base/SocketWait.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left, 0, INT_MAX));
}

}  // namespace

// poll() on the sockets and, last, on the cancellation's descriptor, which
// becomes readable when the cancellation is requested.
SocketWaitResult WaitForSockets(std::span<SocketWatch> watches, std::chrono::milliseconds limit,
                                const Cancellation* cancel) {
  std::vector<pollfd> polled;
  polled.reserve(watches.size() + 1);
  for (const SocketWatch& watch : watches) {
    const short events = watch.interest == SocketWatch::Interest::kReadable ? POLLIN : POLLOUT;
    polled.push_back({watch.socket, events, 0});
  }
  polled.push_back({cancel != nullptr ? cancel->fd() : -1, POLLIN, 0});
  const Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    const int count = ::poll(polled.data(), polled.size(), MillisecondsUntil(deadline));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return {SocketWaitResult::End::kFailed, errno};
    if (count == 0) return {SocketWaitResult::End::kTimedOut};
    if (polled.back().revents != 0) return {SocketWaitResult::End::kCancelled};
    for (std::size_t i = 0; i < watches.size(); ++i) watches[i].ready = polled[i].revents != 0;
    return {SocketWaitResult::End::kReady};
  }
}

}  // namespace qm
