#include "imap/SpoolSink.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/WriteAll.h"

namespace qm {

// The platform's scratch file: without a name (O_TMPFILE), or with one removed
// at once, or on Windows one the system deletes when it closes.
UniqueFd CreateUnlinkedFile(int folder) {
  UniqueFd fd(fs::CreateScratchFile(folder));
  if (!fd.valid()) throw FileFailure(FailureKind::FileWrite, errno, "cannot create a message file");
  return fd;
}

// A body streams in only once the scan has opened a message and so named the
// folder; one before that was never asked for.
void SpoolSink::Begin() {
  if (folder_ < 0) {
    throw Failure(FailureKind::MailStore, Cause::kMailServer,
                  "the mail server sent a message before any was asked for");
  }
  file_ = CreateUnlinkedFile(folder_);
}

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
