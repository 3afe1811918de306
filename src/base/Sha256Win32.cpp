#include "base/Sha256.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <limits>

#include "base/Failure.h"

namespace qm {
namespace {

[[noreturn]] void Fail(const char* what, NTSTATUS status) {
  throw Failure(FailureKind::Internal, Cause::kInternal,
                std::string("SHA-256: ") + what + " (NTSTATUS " +
                    std::to_string(static_cast<unsigned long>(status)) + ")");
}

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

// The algorithm provider and the hash object BCrypt allocates for itself.
struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;

  State() {
    NTSTATUS status = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!Succeeded(status)) Fail("BCrypt offers no SHA-256", status);
    status = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    if (!Succeeded(status)) {
      BCryptCloseAlgorithmProvider(algorithm, 0);
      Fail("BCrypt could not create the hash", status);
    }
  }
  ~State() {
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}

Sha256::~Sha256() = default;

// BCrypt takes at most a ULONG's worth of bytes at a time.
void Sha256::Update(std::string_view bytes) {
  constexpr std::size_t kMostAtOnce = std::numeric_limits<ULONG>::max();
  while (!bytes.empty()) {
    const std::size_t piece = std::min(bytes.size(), kMostAtOnce);
    auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    const NTSTATUS status = BCryptHashData(state_->hash, data, static_cast<ULONG>(piece), 0);
    if (!Succeeded(status)) Fail("the digest refused the bytes", status);
    bytes.remove_prefix(piece);
  }
}

Sha256::Digest Sha256::Finish() {
  Digest digest;
  const NTSTATUS status =
      BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
  if (!Succeeded(status)) Fail("the digest could not be finished", status);
  return digest;
}

}  // namespace qm
