#pragma once
// The attachments of one message, found by walking its MIME tree with GMime.
// A message of up to a few megabytes is read into memory and parsed there;
// a larger one stays on disk (the parser's stream is persistent), so an
// attachment is decoded straight into its file and never held in memory.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "mail/UniqueFd.h"

namespace qm {

class BackgroundWriter;

class AttachmentList {
 public:
  // Parses the message read from `message` (a seekable descriptor). A malformed
  // message is not an error: whatever can be found is listed.
  explicit AttachmentList(UniqueFd message);
  ~AttachmentList();
  AttachmentList(const AttachmentList&) = delete;
  AttachmentList& operator=(const AttachmentList&) = delete;

  std::size_t size() const;

  // The safe file name of attachment `index`.
  const std::string& Name(std::size_t index) const;

  // Decodes attachment `index` into a new file in `folder`, named after the
  // attachment (made safe; distinct from files already there) and returns its
  // path. Throws Failure when the file cannot be written. With a `writer`, the
  // file may still be being written by it when this returns; writer->Wait()
  // tells when it is complete.
  std::filesystem::path Extract(std::size_t index, const std::filesystem::path& folder,
                                BackgroundWriter* writer = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
