#pragma once
// The attachments of one message, found by walking its MIME tree with GMime.
// Parsing keeps the message on disk (the parser's stream is persistent), so an
// attachment is decoded straight into its file and never held in memory.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "mail/UniqueFd.h"

namespace qm {

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
  // path. Throws Failure when the file cannot be written.
  std::filesystem::path Extract(std::size_t index, const std::filesystem::path& folder);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
