#include "base/RandomBytes.h"

#include <openssl/rand.h>

#include <limits>

#include "base/Failure.h"

namespace qm {

std::string RandomBytes(std::size_t count) {
  std::string bytes(count, '\0');
  if (count > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
      RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1) {
    throw Failure(FailureKind::Internal, Cause::kInternal, "the system gives no random bytes");
  }
  return bytes;
}

}  // namespace qm
