#include "graph/GraphRetryWait.h"

#include <algorithm>
#include <string>

#include "base/Failure.h"

namespace qm {
namespace {

constexpr int kLongestBackoffStep = 3;  // 2^3 = 8 seconds

Failure Throttled(const std::string& text) {
  return Failure(FailureKind::MailStore, Cause::kServerThrottled, text);
}

std::string SecondsText(std::chrono::seconds time) { return std::to_string(time.count()) + " s"; }

}  // namespace

std::chrono::seconds BackoffAfter(int failed_attempts) {
  const int step = std::clamp(failed_attempts - 1, 0, kLongestBackoffStep);
  return std::chrono::seconds{1 << step};
}

std::chrono::seconds GraphRetryWait::Next(std::chrono::seconds retry_after, int failed_attempts,
                                          Clock::time_point now) {
  const std::chrono::seconds wait =
      retry_after > std::chrono::seconds{0} ? retry_after : BackoffAfter(failed_attempts);
  if (wait > longest_) {
    throw Throttled("Microsoft Graph asked to wait " + SecondsText(wait) +
                    " before the next request, longer than the " + SecondsText(longest_) +
                    " a scan waits");
  }
  // Only the part of this wait beyond the waits already running adds to the
  // total: four requests told to wait 10 s at once cost 10 s, not 40.
  const Clock::time_point until = now + wait;
  const auto added = std::chrono::ceil<std::chrono::seconds>(
      std::max(Clock::duration{0}, until - std::max(now, waiting_until_)));
  if (waited_ + added > total_) {
    throw Throttled("Microsoft Graph asked to wait " + SecondsText(wait) + " more, beyond the " +
                    SecondsText(total_) + " of waiting a scan accepts in all (" +
                    SecondsText(waited_) + " so far)");
  }
  waited_ += added;
  waiting_until_ = std::max(waiting_until_, until);
  return wait;
}

}  // namespace qm
