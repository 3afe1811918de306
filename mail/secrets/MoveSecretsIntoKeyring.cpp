#include "mail/secrets/MoveSecretsIntoKeyring.h"

#include <memory>
#include <optional>

#include "frame/settings/ConfigLocation.h"
#include "frame/settings/WipeSecret.h"
#include "mail/secrets/FileSecretStore.h"
#include "mail/secrets/KeyringSecretStore.h"

namespace qm {

bool MoveSecretsIntoKeyring(Registry& registry, const std::string& store) {
  const std::string file_path = SettingsFilePath().string();
  FileSecretStore file(registry, file_path);
  const std::unique_ptr<KeyringSecretStore> keyring =
      KeyringSecretStore::Connect(std::make_unique<FileSecretStore>(registry, file_path));
  bool file_holds_none = true;
  for (const SecretKind kind :
       {SecretKind::kPassword, SecretKind::kRefreshToken, SecretKind::kAccessToken}) {
    std::optional<std::string> secret = file.Read(kind, store);
    if (!secret) continue;
    if (!keyring) {
      file_holds_none = false;
    } else if (secret->empty()) {
      file.Erase(kind, store);  // an empty value is no secret to keep
    } else if (keyring->ReadKeyringOnly(kind, store)) {
      file.Erase(kind, store);  // the keyring's own is the newer one
    } else {
      keyring->Write(kind, store, *secret);  // removes the file's copy once kept
    }
    WipeSecret(*secret);
  }
  return file_holds_none;
}

}  // namespace qm
