#include "mail/imap/SpoolSink.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "frame/settings/Failure.h"
#include "frame/settings/WriteAll.h"

namespace qm {

UniqueFd CreateUnlinkedFile(const std::filesystem::path& folder) {
  UniqueFd fd(::open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600));
  if (fd.valid()) return fd;
  // No O_TMPFILE there (FUSE, SMB, exFAT): a named file, gone at once.
  std::string pattern = (folder / ".imap-message-XXXXXX").string();
  fd.Reset(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!fd.valid()) {
    throw FileFailure(FailureKind::FileWrite, errno, "cannot create a file in " + folder.string());
  }
  if (::unlink(pattern.c_str()) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "cannot remove " + pattern);
  }
  return fd;
}

void SpoolSink::Begin() { file_ = CreateUnlinkedFile(folder_); }

void SpoolSink::Write(std::string_view bytes) {
  WriteAll(file_.get(), bytes.data(), bytes.size(), "a message from the mail server");
}

UniqueFd SpoolSink::Take() {
  UniqueFd file = std::move(file_);
  if (file.valid() && ::lseek(file.get(), 0, SEEK_SET) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "rewinding a message from the mail server");
  }
  return file;
}

}  // namespace qm
