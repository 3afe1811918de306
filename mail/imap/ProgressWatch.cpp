#include "mail/imap/ProgressWatch.h"

#include <algorithm>

namespace qm {

void ProgressWatch::Moved(std::size_t bytes) {
  moved_ += bytes;
  if (moved_ < least_bytes_) return;
  moved_ = 0;
  waited_ = std::chrono::milliseconds(0);
}

void ProgressWatch::Waited(std::chrono::milliseconds waited) {
  waited_ += std::max(waited, std::chrono::milliseconds(0));
}

std::chrono::milliseconds ProgressWatch::WaitLeft() const {
  return std::max(interval_ - waited_, std::chrono::milliseconds(0));
}

}  // namespace qm
