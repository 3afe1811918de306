#include "secrets/MoveSecretsIntoKeyring.h"

#include <memory>
#include <optional>

#include "base/WipeSecret.h"
#include "secrets/FileSecretStore.h"
#include "secrets/KeyringSecretStore.h"
#include "settings/ConfigLocation.h"

namespace qm {
namespace {

// One secret of the file into the keyring. An empty one is no secret to
// keep, and one the keyring holds already is older than the keyring's own.
void MoveOne(KeyringSecretStore& keyring, FileSecretStore& file, SecretKind kind,
             const std::string& store, const std::string& secret) {
  std::optional<std::string> kept = keyring.ReadKeyringOnly(kind, store);
  if (secret.empty() || kept) {
    file.Erase(kind, store);
  } else {
    keyring.Write(kind, store, secret);  // removes the file's copy once kept
  }
  if (kept) WipeSecret(*kept);
}

}  // namespace

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
    if (keyring) {
      MoveOne(*keyring, file, kind, store, *secret);
    } else {
      file_holds_none = false;
    }
    WipeSecret(*secret);
  }
  return file_holds_none;
}

}  // namespace qm
