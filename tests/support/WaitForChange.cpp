#include "tests/support/WaitForChange.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "base/UniqueFd.h"

namespace qm::testing {

bool WaitForChange(const std::filesystem::path& folder, const std::function<bool()>& done,
                   std::chrono::milliseconds limit) {
  const UniqueFd watch(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  constexpr std::uint32_t kChanges =
      IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB;
  if (!watch.valid() || ::inotify_add_watch(watch.get(), folder.c_str(), kChanges) < 0) {
    throw std::runtime_error("cannot watch " + folder.string());
  }
  // Watching first, then checking: a change in between is not missed.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd changed{watch.get(), POLLIN, 0};
    if (::poll(&changed, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
      throw std::runtime_error("poll failed");
    }
    char events[4096];
    while (::read(watch.get(), events, sizeof events) > 0) {
    }
  }
  return true;
}

}  // namespace qm::testing
