#pragma once
// How long a Graph request waits before its next attempt: the Retry-After
// its answer gave, else a backoff of 1, 2, 4, 8 seconds (8 from then on).
// One wait may not exceed the longest a scan accepts, and the time during
// which any request of the connection waits may not exceed a total: past
// either the server is throttling the mailbox beyond what a scan can wait.

#include <chrono>

namespace qm {

class GraphRetryWait {
 public:
  using Clock = std::chrono::steady_clock;

  GraphRetryWait(std::chrono::seconds longest, std::chrono::seconds total)
      : longest_(longest), total_(total) {}

  // The wait after a request's `failed_attempts`-th retried answer (1 after
  // the first); `retry_after` is the answer's, zero when it had none.
  // Waits that overlap in time count once. Throws
  // Failure(MailStore, kServerThrottled) when the wait is too long.
  std::chrono::seconds Next(std::chrono::seconds retry_after, int failed_attempts,
                            Clock::time_point now);

  // The time during which some request waited or is waiting.
  std::chrono::seconds waited() const { return waited_; }

 private:
  std::chrono::seconds longest_;
  std::chrono::seconds total_;
  std::chrono::seconds waited_{0};
  Clock::time_point waiting_until_{};
};

// The backoff after `failed_attempts` answers without a Retry-After.
std::chrono::seconds BackoffAfter(int failed_attempts);

}  // namespace qm
