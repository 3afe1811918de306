#pragma once
// The attachment files of one message, however the back-end comes by them:
// found in its MIME tree (mime/AttachmentList), or handed over by a mail
// system that writes each attachment into a file of its own (Outlook's).

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace qm {

class MessageAttachments {
 public:
  virtual ~MessageAttachments() = default;

  virtual std::size_t size() const = 0;

  // The safe file name of attachment `index`.
  virtual const std::string& Name(std::size_t index) const = 0;

  // Writes attachment `index` into `fd`; `what` names the file in failures.
  // Throws Failure(FileWrite) when writing fails and UnreadableMessage when
  // the attachment cannot be read.
  virtual void Write(std::size_t index, int fd, const std::string& what) const = 0;
  // When the message says it was sent (its Date field); nothing when it
  // does not say, or the mail system does not tell.
  virtual std::optional<std::chrono::system_clock::time_point> Date() const { return std::nullopt; }

  // The same write as a task that may run on another thread, after this
  // object is gone; empty when only Write can write the attachment. `held`
  // gets the number of bytes of memory the task holds on to.
  using DetachedWriter = std::function<void(int fd, const std::string& what)>;
  virtual DetachedWriter Detached(std::size_t /*index*/, std::size_t* held = nullptr) const {
    if (held != nullptr) *held = 0;
    return {};
  }
};

}  // namespace qm
