#include <winsock2.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "base/Cancellation.h"
#include "base/SocketWait.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

// Winsock cannot wait on the cancellation beside the sockets: the wait goes
// in slices this long, and the cancellation is looked at between them.
constexpr std::chrono::milliseconds kSlice{50};

std::chrono::milliseconds TimeUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

bool Requested(const Cancellation* cancel) { return cancel != nullptr && cancel->Requested(); }

// One slice: WSAPoll on the sockets, or a plain sleep when there are none.
int WaitSlice(std::vector<WSAPOLLFD>& polled, std::chrono::milliseconds slice) {
  if (polled.empty()) {
    ::Sleep(static_cast<DWORD>(slice.count()));
    return 0;
  }
  return ::WSAPoll(polled.data(), static_cast<ULONG>(polled.size()),
                   static_cast<INT>(slice.count()));
}

}  // namespace

SocketWaitResult WaitForSockets(std::span<SocketWatch> watches, std::chrono::milliseconds limit,
                                const Cancellation* cancel) {
  std::vector<WSAPOLLFD> polled;
  polled.reserve(watches.size());
  for (const SocketWatch& watch : watches) {
    const SHORT events =
        watch.interest == SocketWatch::Interest::kReadable ? POLLRDNORM : POLLWRNORM;
    polled.push_back({static_cast<SOCKET>(watch.socket), events, 0});
  }
  const Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    if (Requested(cancel)) return {SocketWaitResult::End::kCancelled};
    const std::chrono::milliseconds left = TimeUntil(deadline);
    const int count = WaitSlice(polled, std::min(left, kSlice));
    if (count < 0 && ::WSAGetLastError() != WSAEINTR) {
      return {SocketWaitResult::End::kFailed, ::WSAGetLastError()};
    }
    if (count > 0) {
      if (Requested(cancel)) return {SocketWaitResult::End::kCancelled};
      for (std::size_t i = 0; i < watches.size(); ++i) watches[i].ready = polled[i].revents != 0;
      return {SocketWaitResult::End::kReady};
    }
    if (left.count() == 0) return {SocketWaitResult::End::kTimedOut};
  }
}

}  // namespace qm
