#include "save/Destination.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/Failure.h"
#include "save/EndedRun.h"

namespace qm {

void CheckDestination(const std::string& path) {
  if (path.empty()) {
    throw Failure(FailureKind::Destination, Cause::kSystem,
                  "no destination folder is set: choose the folder where attachments are saved",
                  ENOENT);
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    throw FileFailure(FailureKind::Destination, errno, "destination folder " + path);
  }
  if (!S_ISDIR(info.st_mode)) {
    throw Failure(FailureKind::Destination, Cause::kSystem, "destination is not a folder: " + path,
                  ENOTDIR);
  }
  // Permission bits do not tell everything (read-only mounts, ACLs, root):
  // create and remove a probe file.
  // Named like the program's other hidden files, so that a probe a killed
  // run left behind is removed by the next scan.
  std::string probe = path + "/" + RunNames::OfThisRun(".quillmar-").Prefix() + "probe-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    throw FileFailure(FailureKind::Destination, errno,
                      "cannot write into destination folder " + path);
  }
  ::close(fd);
  ::unlink(probe.c_str());
}

}  // namespace qm
