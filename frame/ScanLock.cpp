#include "frame/ScanLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>

#include <filesystem>
#include <system_error>

#include "frame/settings/ConfigLocation.h"
#include "frame/settings/Failure.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// Not inherited by a password command: a child left running after a killed
// scan must not keep the next scan out.
UniqueFd OpenLockFile(const fs::path& path) {
  std::error_code ignored;  // a folder that cannot be made fails the open below
  fs::create_directories(path.parent_path(), ignored);
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
