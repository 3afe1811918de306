#include "frame/Failure.h"

#include <cerrno>
#include <cstring>

namespace qm {

namespace {

int ErrorNumberFor(int error) {
  switch (error) {
    case ENOSPC:
      return errnum::kDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return errnum::kPermissionDenied;
    case ENOENT:
    case ENOTDIR:
      return errnum::kPathNotFound;
    default:
      return errnum::kFileAccess;
  }
}

}  // namespace

Failure FileFailure(FailureKind kind, int error, const std::string& what) {
  return Failure(kind, ErrorNumberFor(error), what + ": " + std::strerror(error));
}

}  // namespace qm
