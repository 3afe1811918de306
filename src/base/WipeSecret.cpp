#include "base/WipeSecret.h"

#include <string.h>

namespace qm {

void WipeSecret(std::string& secret) {
  ::explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

void WipeSecret(std::vector<std::uint8_t>& secret) {
  // An empty vector may have no storage at all: nothing to wipe, and no null
  // pointer for explicit_bzero.
  if (!secret.empty()) ::explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

}  // namespace qm
