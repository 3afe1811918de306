#pragma once
// SHA-256 of bytes given in pieces: the digest that finds a file already
// saved, and the PKCE challenge of a sign-in. The system's own implementation
// does the work (libcrypto here, BCrypt on Windows).

#include <array>
#include <cstddef>
#include <memory>
#include <string_view>

namespace qm {

class Sha256 {
 public:
  static constexpr std::size_t kSize = 32;
  using Digest = std::array<unsigned char, kSize>;

  // Throws Failure(Internal) when the system offers no SHA-256.
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(std::string_view bytes);
  // The digest of every byte given so far; the object is used up.
  Digest Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The SHA-256 of `bytes` in one go.
inline Sha256::Digest Sha256Of(std::string_view bytes) {
  Sha256 sha;
  sha.Update(bytes);
  return sha.Finish();
}

}  // namespace qm
