#include "oauth/Pkce.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/Failure.h"

namespace qm {
namespace {

constexpr std::size_t kVerifierBytes = 32;  // 43 characters once encoded

}  // namespace

std::string Base64Url(std::string_view bytes) {
  std::string encoded(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                     reinterpret_cast<const unsigned char*>(bytes.data()),
                                     static_cast<int>(bytes.size()));
  encoded.resize(static_cast<std::size_t>(length));
  while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
  std::replace(encoded.begin(), encoded.end(), '+', '-');
  std::replace(encoded.begin(), encoded.end(), '/', '_');
  return encoded;
}

std::string RandomUrlSafe(std::size_t bytes) {
  std::vector<unsigned char> random(bytes);
  if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1) {
    throw Failure(FailureKind::Internal, Cause::kInternal,
                  "the system gives no random bytes for the sign-in");
  }
  return Base64Url(std::string_view(reinterpret_cast<const char*>(random.data()), random.size()));
}

std::string PkceChallenge(std::string_view verifier) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
  return Base64Url(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

Pkce MakePkce() {
  Pkce pkce;
  pkce.verifier = RandomUrlSafe(kVerifierBytes);
  pkce.challenge = PkceChallenge(pkce.verifier);
  return pkce;
}

}  // namespace qm
