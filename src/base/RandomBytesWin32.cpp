#include "base/RandomBytes.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <limits>

#include "base/Failure.h"

namespace qm {

// The system-preferred generator needs no algorithm handle; it takes at most
// a ULONG's worth of bytes at a time.
std::string RandomBytes(std::size_t count) {
  constexpr std::size_t kMostAtOnce = std::numeric_limits<ULONG>::max();
  std::string bytes(count, '\0');
  for (std::size_t done = 0; done < count;) {
    const std::size_t piece = std::min(count - done, kMostAtOnce);
    const NTSTATUS status =
        BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data() + done),
                        static_cast<ULONG>(piece), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
      throw Failure(FailureKind::Internal, Cause::kInternal, "the system gives no random bytes");
    }
    done += piece;
  }
  return bytes;
}

}  // namespace qm
