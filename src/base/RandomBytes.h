#pragma once
// Bytes from the system's cryptographic random generator (libcrypto's here,
// BCrypt's system-preferred generator on Windows).

#include <cstddef>
#include <string>

namespace qm {

// `count` random bytes. Throws Failure(Internal) when the system gives none.
std::string RandomBytes(std::size_t count);

}  // namespace qm
