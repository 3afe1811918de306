#include "oauth/Pkce.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "base/RandomBytes.h"
#include "base/Sha256.h"

namespace qm {
namespace {

constexpr std::size_t kVerifierBytes = 32;  // 43 characters once encoded
constexpr char kUrlSafeAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

}  // namespace

// Each three bytes become four characters of six bits each; a last group of
// one or two bytes becomes two or three characters (no padding).
std::string Base64Url(std::string_view bytes) {
  std::string encoded;
  encoded.reserve((bytes.size() * 4 + 2) / 3);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t group = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t bits = 0;
    for (std::size_t j = 0; j < 3; ++j) {
      const auto byte = j < group ? static_cast<unsigned char>(bytes[i + j]) : 0u;
      bits = (bits << 8) | byte;
    }
    for (std::size_t k = 0; k <= group; ++k) {
      encoded += kUrlSafeAlphabet[(bits >> (18 - 6 * k)) & 0x3f];
    }
  }
  return encoded;
}

std::string RandomUrlSafe(std::size_t bytes) { return Base64Url(RandomBytes(bytes)); }

std::string PkceChallenge(std::string_view verifier) {
  const Sha256::Digest digest = Sha256Of(verifier);
  return Base64Url(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

Pkce MakePkce() {
  Pkce pkce;
  pkce.verifier = RandomUrlSafe(kVerifierBytes);
  pkce.challenge = PkceChallenge(pkce.verifier);
  return pkce;
}

}  // namespace qm
