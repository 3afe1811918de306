#include "frame/ScanLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>

#include "base/Failure.h"
#include "settings/ConfigLocation.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// Missing folders are made private, as the settings file's are; one that
// cannot be made fails the open that follows.
void MakeFolders(const fs::path& folder) {
  fs::path partial;
  for (const fs::path& part : folder) {
    partial /= part;
    ::mkdir(partial.c_str(), 0700);  // an existing folder stays as it is
  }
}

// Not inherited by a password command: a child left running after a killed
// scan must not keep the next scan out.
UniqueFd OpenLockFile(const fs::path& path) {
  MakeFolders(path.parent_path());
  UniqueFd file(::open(path.c_str(),
                       O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600));
  if (!file.valid()) {
    throw FileFailure(FailureKind::Internal, errno,
                      "cannot open " + path.string() + ", which keeps two scans apart");
  }
  return file;
}

}  // namespace

ScanLock::ScanLock() {
  const fs::path settings = SettingsFilePath();
  const fs::path path = settings.parent_path() / "Quillmar.lock";
  file_ = OpenLockFile(path);
  while (::flock(file_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) {
      throw Failure(FailureKind::Overlap, Cause::kScanRunning,
                    "another scan with the settings of " + settings.string() +
                        " is running; this one did not start");
    }
    throw FileFailure(FailureKind::Internal, errno, "cannot lock " + path.string());
  }
}

}  // namespace qm
