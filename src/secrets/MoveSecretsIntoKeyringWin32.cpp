#include <optional>

#include "base/WipeSecret.h"
#include "secrets/CredentialSecretStore.h"
#include "secrets/FileSecretStore.h"
#include "secrets/MoveSecretsIntoKeyring.h"

namespace qm {
namespace {

// One secret of the registry into the Credential Manager. An empty one is no
// secret to keep, and one the Credential Manager holds already is older than
// its own. Write() removes the registry's copy only once the credential
// reads back: a failure leaves it where it was.
void MoveOne(CredentialSecretStore& credentials, FileSecretStore& registry_store, SecretKind kind,
             const std::string& store, const std::string& secret) {
  std::optional<std::string> kept = credentials.ReadCredentialOnly(kind, store);
  if (secret.empty() || kept) {
    registry_store.Erase(kind, store);
  } else {
    credentials.Write(kind, store, secret);
  }
  if (kept) WipeSecret(*kept);
}

}  // namespace

// The Credential Manager is always reachable, so every secret moves.
bool MoveSecretsIntoKeyring(Registry& registry, const std::string& store) {
  FileSecretStore registry_store(registry, MailProfileRegistryPlace(), SecretEncoding::kAnsiText);
  CredentialSecretStore credentials(registry);
  for (const SecretKind kind :
       {SecretKind::kPassword, SecretKind::kRefreshToken, SecretKind::kAccessToken}) {
    std::optional<std::string> secret = registry_store.Read(kind, store);
    if (!secret) continue;
    MoveOne(credentials, registry_store, kind, store, *secret);
    WipeSecret(*secret);
  }
  return true;
}

}  // namespace qm
