#pragma once
// The messages a scan skipped because they could not be read. They stay
// unread, so that the next run tries them again; the scan reports them once,
// at its end, naming the first.

#include <cstdint>
#include <optional>
#include <string>

#include "base/Failure.h"
#include "store/UnreadableMessage.h"

namespace qm {

class SkippedMessages {
 public:
  void Add(const UnreadableMessage& message) {
    if (count_++ == 0) first_ = message.what();
  }

  std::int64_t count() const { return count_; }

  // "3 messages could not be read; the first: PATH: REASON", as a failure of
  // its own kind; nothing when every message could be read.
  std::optional<Failure> Report() const {
    if (count_ == 0) return std::nullopt;
    const std::string text =
        count_ == 1 ? "1 message could not be read: " + first_
                    : std::to_string(count_) + " messages could not be read; the first: " + first_;
    return Failure(FailureKind::Unreadable, Cause::kUnreadableMessage, text);
  }

 private:
  std::int64_t count_ = 0;
  std::string first_;
};

}  // namespace qm
