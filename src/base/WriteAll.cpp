#include "base/WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace qm {

int WriteAllOrError(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

void WriteAll(int fd, const char* data, std::size_t size, const std::string& what,
              FailureKind kind) {
  if (const int error = WriteAllOrError(fd, data, size); error != 0) {
    throw FileFailure(kind, error, "writing " + what);
  }
}

}  // namespace qm
