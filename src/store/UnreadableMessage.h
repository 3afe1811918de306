#pragma once
// A message that is listed but cannot be read (no permission, an I/O error, a
// server that refuses to hand it out). It is not a failure of the scan: the
// scan skips the message, leaves it unread so that the next run tries again,
// and reports every such message once at its end. Anywhere else it is a
// failure of the mailbox like any other.

#include <string>
#include <utility>

#include "base/Failure.h"

namespace qm {

class UnreadableMessage : public Failure {
 public:
  // `where` names the message for the user (a file path, a mailbox and UID);
  // `reason` says what went wrong. Either may be filled in later by a caller
  // that knows more.
  UnreadableMessage(std::string where, std::string reason)
      : Failure(FailureKind::MailStore, Cause::kUnreadableMessage, Describe(where, reason)),
        where_(std::move(where)),
        reason_(std::move(reason)) {}

  const std::string& where() const { return where_; }
  const std::string& reason() const { return reason_; }

  // The same failure, naming the message as `where` when it named none yet.
  UnreadableMessage At(const std::string& where) const {
    return where_.empty() ? UnreadableMessage(where, reason_) : *this;
  }

 private:
  static std::string Describe(const std::string& where, const std::string& reason) {
    return where.empty() ? reason : where + ": " + reason;
  }

  std::string where_;
  std::string reason_;
};

}  // namespace qm
