#include <memory>

#include "secrets/CredentialSecretStore.h"
#include "secrets/SecretStore.h"

namespace qm {

// The Credential Manager is always there on Windows: no fallback is needed.
std::unique_ptr<SecretStore> OpenSecretStore(Registry& registry) {
  return std::make_unique<CredentialSecretStore>(registry);
}

}  // namespace qm
