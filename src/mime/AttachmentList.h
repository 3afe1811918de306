#pragma once
// The attachments of one message, found by walking its MIME tree with GMime.
// Wrapped files count as the files they are: those inside a winmail.dat (in
// its place, unless it cannot be unpacked whole), those uuencoded into a
// plain-text body, and the data fork of an AppleDouble pair. Wrapped files
// are decoded into a scratch file, never into memory.
// A message of up to a few megabytes is read into memory and parsed there;
// a larger one stays on disk (the parser's stream is persistent), so an
// attachment is decoded straight into its file and never held in memory.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "base/UniqueFd.h"
#include "mime/ScratchFile.h"
#include "store/MessageAttachments.h"

namespace qm {

class AttachmentList : public MessageAttachments {
 public:
  // Parses the message read from `message` (a seekable descriptor). A malformed
  // message is not an error: whatever can be found is listed. Throws
  // UnreadableMessage for one nested too deep to be walked or of too many
  // parts (PartBounds.h). Wrapped files are decoded into a file
  // `open_scratch` opens, when there are any.
  AttachmentList(UniqueFd message, OpenScratchFile open_scratch);
  ~AttachmentList() override;
  std::optional<std::chrono::system_clock::time_point> Date() const override;
  AttachmentList(const AttachmentList&) = delete;
  AttachmentList& operator=(const AttachmentList&) = delete;

  std::size_t size() const override;

  // The safe file name of attachment `index`.
  const std::string& Name(std::size_t index) const override;

  // Writes attachment `index`, transfer-decoded, into `fd`; `what` names the
  // file in failures. Throws Failure(FileWrite) when writing fails and
  // UnreadableMessage when the message cannot be read.
  void Write(std::size_t index, int fd, const std::string& what) const override;

  // The same write as a task that uses no GMime object and holds what it
  // needs, so that it may run on another thread, after this list is gone.
  // Empty when only Write can write the attachment. `held` gets the number of
  // bytes of memory the task holds on to.
  DetachedWriter Detached(std::size_t index, std::size_t* held = nullptr) const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
