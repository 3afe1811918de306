#include <memory>

#include "frame/settings/ConfigLocation.h"
#include "mail/secrets/FileSecretStore.h"
#include "mail/secrets/SecretStore.h"

namespace qm {

std::unique_ptr<SecretStore> OpenSecretStore(Registry& registry) {
  return std::make_unique<FileSecretStore>(registry, SettingsFilePath().string());
}

}  // namespace qm
