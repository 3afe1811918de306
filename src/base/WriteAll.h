#pragma once
// Writing a whole buffer to a descriptor, however the kernel splits it.

#include <cstddef>
#include <string>

#include "base/Failure.h"

namespace qm {

// Writes all `size` bytes; returns 0, or the errno value of the write that
// failed (EIO for one that wrote nothing).
int WriteAllOrError(int fd, const char* data, std::size_t size);

// The same; a failure throws FileFailure(`kind`) naming "writing <what>".
void WriteAll(int fd, const char* data, std::size_t size, const std::string& what,
              FailureKind kind = FailureKind::FileWrite);

}  // namespace qm
