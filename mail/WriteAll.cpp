#include "mail/WriteAll.h"

#include <unistd.h>

#include <cerrno>

#include "frame/Failure.h"

namespace qm {

void WriteAll(int fd, const char* data, std::size_t size, const std::string& what) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      throw FileFailure(FailureKind::FileWrite, written < 0 ? errno : EIO, "writing " + what);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

}  // namespace qm
