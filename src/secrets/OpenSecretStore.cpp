#include <memory>

#include "frame/settings/ConfigLocation.h"
#include "mail/secrets/FileSecretStore.h"
#include "mail/secrets/KeyringSecretStore.h"
#include "mail/secrets/SecretStore.h"

namespace qm {

std::unique_ptr<SecretStore> OpenSecretStore(Registry& registry) {
  const std::string file = SettingsFilePath().string();
  if (std::unique_ptr<KeyringSecretStore> keyring =
          KeyringSecretStore::Connect(std::make_unique<FileSecretStore>(registry, file))) {
    return keyring;
  }
  return std::make_unique<FileSecretStore>(registry, file);
}

}  // namespace qm
