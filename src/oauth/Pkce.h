#pragma once
// Proof Key for Code Exchange with the S256 method: a random verifier kept
// here, its SHA-256 sent with the authorization request, the verifier itself
// with the code exchange, so that an intercepted code is worth nothing.

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

struct Pkce {
  std::string verifier;   // 43 characters of the URL-safe alphabet
  std::string challenge;  // base64url(SHA-256(verifier)), no padding
};

Pkce MakePkce();

// The S256 challenge of `verifier`.
std::string PkceChallenge(std::string_view verifier);

// `bytes` random bytes from the system's generator, as base64url without
// padding: verifiers and the `state` of a sign-in. Throws Failure(Internal)
// when no random bytes can be had.
std::string RandomUrlSafe(std::size_t bytes);

// base64url without padding (RFC 4648, section 5).
std::string Base64Url(std::string_view bytes);

}  // namespace qm
