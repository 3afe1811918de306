#pragma once
// An in-memory mailbox for scan tests: messages with raw Subject and From, a
// read flag and whole message bytes handed out through a scratch file.

#include <memory>
#include <string>
#include <vector>

#include "store/MailStore.h"
#include "store/UnreadableMessage.h"
#include "tests/support/ScratchFiles.h"

namespace qm::testing {

struct FakeMessage {
  std::string subject;
  std::string from;
  bool read = false;
  std::string bytes;        // the whole message; empty means subject/from headers only
  bool unreadable = false;  // reading its headers or bytes fails
};

// Shared between the test and the store the session owns.
struct FakeMailbox {
  std::vector<FakeMessage> messages;
  int sign_ons = 0;
  int commits = 0;
  std::vector<std::size_t> header_reads;
  std::vector<std::size_t> opened;  // OpenMessage calls, in order
};

class FakeStore : public MailStore {
 public:
  explicit FakeStore(std::shared_ptr<FakeMailbox> box) : box_(std::move(box)) {}

  std::size_t List() override { return box_->messages.size(); }
  bool IsRead(std::size_t i) override { return box_->messages.at(i).read; }
  RawHeaders Headers(std::size_t i) override {
    box_->header_reads.push_back(i);
    ThrowIfUnreadable(i);
    return {box_->messages.at(i).subject, box_->messages.at(i).from};
  }
  std::string Describe(std::size_t i) const override { return "message " + std::to_string(i); }
  UniqueFd OpenMessage(std::size_t i, int) override {
    box_->opened.push_back(i);
    ThrowIfUnreadable(i);
    const FakeMessage& m = box_->messages.at(i);
    const std::string bytes =
        m.bytes.empty() ? "Subject: " + m.subject + "\nFrom: " + m.from + "\n\nbody\n" : m.bytes;
    return FileHolding(bytes);
  }
  void QueueReadMark(std::size_t i) override { queued_.push_back(i); }
  void DropReadMark(std::size_t i) override { std::erase(queued_, i); }
  void CommitReadMarks() override {
    ++box_->commits;
    for (std::size_t i : queued_) box_->messages.at(i).read = true;
    queued_.clear();
  }

 private:
  void ThrowIfUnreadable(std::size_t i) const {
    if (box_->messages.at(i).unreadable) throw UnreadableMessage(Describe(i), "Input/output error");
  }

  std::shared_ptr<FakeMailbox> box_;
  std::vector<std::size_t> queued_;
};

// A message with one base64 attachment `name` holding `content`.
inline std::string MessageWithAttachment(const std::string& subject, const std::string& name,
                                         const std::string& content_base64) {
  return "Subject: " + subject +
         "\nFrom: sender@example.com\nMIME-Version: 1.0\n"
         "Content-Type: multipart/mixed; boundary=\"=-part-=\"\n\n"
         "--=-part-=\nContent-Type: text/plain; charset=UTF-8\n\nbody\n"
         "--=-part-=\nContent-Type: application/octet-stream\n"
         "Content-Disposition: attachment; filename=\"" +
         name + "\"\nContent-Transfer-Encoding: base64\n\n" + content_base64 + "\n--=-part-=--\n";
}

}  // namespace qm::testing
