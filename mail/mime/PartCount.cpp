#include "mail/mime/PartCount.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "mail/store/UnreadableMessage.h"

namespace qm {

bool HasTooManyParts(int fd) {
  std::array<char, 64 * 1024> block;
  std::size_t lines = 0;
  // The last two bytes seen, as if a line break came before the message.
  char before_last = 0, last = '\n';
  for (std::int64_t at = 0;;) {
    const ssize_t got = ::pread(fd, block.data(), block.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw UnreadableMessage("", std::strerror(errno));
    if (got == 0) return false;
    for (ssize_t i = 0; i < got; ++i) {
      const char c = block[static_cast<std::size_t>(i)];
      if (c == '-' && last == '-' && before_last == '\n' && ++lines > kMaxPartLines) return true;
      before_last = last;
      last = c;
    }
    at += got;
  }
}

}  // namespace qm
