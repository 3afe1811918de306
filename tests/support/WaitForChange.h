#pragma once
// Waiting for what another process writes, on the event itself: the kernel
// (inotify) says when something in a folder changed, and only then is the
// condition checked again. No fixed sleeps.

#include <chrono>
#include <filesystem>
#include <functional>

namespace qm::testing {

// Waits until `done()` holds, checking it at once and again whenever an entry
// of `folder` is created, written, moved in or out, or removed; false when it
// still does not hold after `limit`.
bool WaitForChange(const std::filesystem::path& folder, const std::function<bool()>& done,
                   std::chrono::milliseconds limit);

}  // namespace qm::testing
