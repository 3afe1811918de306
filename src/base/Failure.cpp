#include "base/Failure.h"

#include <cstring>

namespace qm {

Failure FileFailure(FailureKind kind, int error, const std::string& what) {
  return Failure(kind, Cause::kSystem, what + ": " + std::strerror(error), error);
}

Failure InternalFailure(const std::string& what) {
  return Failure(FailureKind::Internal, Cause::kInternal, what);
}

}  // namespace qm
