#include "imap/ProgressWatch.h"

#include <algorithm>

namespace qm {

void ProgressWatch::Moved(std::size_t bytes) {
  moved_ += bytes;
  if (moved_ < least_bytes_) return;
  moved_ = 0;
  waited_ = std::chrono::nanoseconds(0);
}

void ProgressWatch::Waited(std::chrono::nanoseconds waited) {
  waited_ += std::max(waited, std::chrono::nanoseconds(0));
}

std::chrono::milliseconds ProgressWatch::WaitLeft() const {
  if (Stalled()) return std::chrono::milliseconds(0);
  return std::chrono::ceil<std::chrono::milliseconds>(interval_ - waited_);
}

}  // namespace qm
