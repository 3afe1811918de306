#include <windows.h>

#include "base/WipeSecret.h"

namespace qm {

// SecureZeroMemory writes through a volatile pointer, which the compiler
// keeps even when the memory is released right after.
void WipeSecret(std::string& secret) {
  ::SecureZeroMemory(secret.data(), secret.size());
  secret.clear();
}

void WipeSecret(std::vector<std::uint8_t>& secret) {
  if (!secret.empty()) ::SecureZeroMemory(secret.data(), secret.size());
  secret.clear();
}

}  // namespace qm
