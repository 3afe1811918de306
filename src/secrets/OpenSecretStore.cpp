#include <memory>

#include "secrets/FileSecretStore.h"
#include "secrets/KeyringSecretStore.h"
#include "secrets/SecretStore.h"
#include "settings/ConfigLocation.h"

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
