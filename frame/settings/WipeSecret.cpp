#include "frame/settings/WipeSecret.h"

#include <string.h>

namespace qm {

void WipeSecret(std::string& secret) {
  ::explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

void WipeSecret(std::vector<std::uint8_t>& secret) {
  ::explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

}  // namespace qm
