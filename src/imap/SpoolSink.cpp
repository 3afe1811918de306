#include "imap/SpoolSink.h"

#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/WriteAll.h"
#include "imap/NamelessFile.h"

namespace qm {

namespace {

constexpr unsigned kFileMode = 0600;
constexpr int kNameAttempts = 100;

std::string NewSpoolName(std::mt19937_64& random) {
  return ".imap-message-" + std::to_string(random());
}

}  // namespace

UniqueFd CreateUnlinkedFile(int folder) {
  UniqueFd fd = CreateNamelessFile(folder);
  if (fd.valid()) return fd;
  // None there: a named file, its name removed at once. On Windows the name
  // may stay until the file is closed (without the POSIX removal of NTFS on
  // Windows 10 1709 and later); the file goes with it all the same.
  std::mt19937_64 random(std::random_device{}());
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = NewSpoolName(random);
    fd.Reset(fs::CreateExclusive(folder, name, kFileMode));
    if (!fd.valid() && errno == EEXIST) continue;
    if (!fd.valid()) throw FileFailure(FailureKind::FileWrite, errno, "cannot create " + name);
    if (fs::RemoveFile(folder, name) != 0) {
      throw FileFailure(FailureKind::FileWrite, errno, "cannot remove " + name);
    }
    return fd;
  }
  throw FileFailure(FailureKind::FileWrite, EEXIST, "cannot create a message file");
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
