#pragma once
// The attachments of one Outlook message: the temporary files the mail
// program wrote for them. Each is copied into the file the scan gives and
// then removed; those the scan does not take are removed when this goes.

#include <filesystem>
#include <string>
#include <vector>

#include "store/MessageAttachments.h"

namespace qm {

struct MapiAttachment {
  std::string name;            // safe file name, UTF-8
  std::filesystem::path file;  // the mail program's temporary file
};

class MapiAttachmentFiles : public MessageAttachments {
 public:
  explicit MapiAttachmentFiles(std::vector<MapiAttachment> attachments);
  ~MapiAttachmentFiles() override;
  MapiAttachmentFiles(const MapiAttachmentFiles&) = delete;
  MapiAttachmentFiles& operator=(const MapiAttachmentFiles&) = delete;

  std::size_t size() const override { return attachments_.size(); }
  const std::string& Name(std::size_t index) const override { return attachments_[index].name; }
  // Copies the temporary file into `fd`, then removes it. Throws
  // UnreadableMessage when it cannot be read, Failure(FileWrite) when `fd`
  // cannot be written.
  void Write(std::size_t index, int fd, const std::string& what) const override;

 private:
  std::vector<MapiAttachment> attachments_;
};

// The name an attachment is saved under, made safe: the name the mail
// program gives (`ansi_name`, in the ANSI code page; may be null), unless the
// temporary file's own name on disk (`file`) says more: where the two agree
// on every character the code page holds, the name on disk keeps those it
// has not (𠮷, ①, emoji on a Japanese system), which the ANSI name gives as
// '?'. An empty given name takes the name on disk.
std::string MapiAttachmentName(const char* ansi_name, const std::filesystem::path& file);

}  // namespace qm
