#pragma once
// Overwriting the memory that held a password or a token before it is
// released, so that the secret does not linger in freed memory or a core file.

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// Zeroes the bytes (in a way the compiler keeps) and empties the string.
void WipeSecret(std::string& secret);
void WipeSecret(std::vector<std::uint8_t>& secret);

}  // namespace qm
