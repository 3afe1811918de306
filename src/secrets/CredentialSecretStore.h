#pragma once
// The secrets in the Windows Credential Manager: one generic credential per
// mailbox and kind, kept for this user on this machine
// (CRED_PERSIST_LOCAL_MACHINE), its target "Quillmar/<kind>/<store>" (the kind
// as the keyring names it, "password", "refresh-token" or "access-token"; the
// store the profile's "Store" value), its blob the secret's UTF-8 bytes. A
// blob holds kCredentialBlobBytes at most: a longer secret (an access token
// may be longer) goes on in the credentials "<target>#2", "<target>#3"...
//
// The registry's mail profile stays behind it, as the settings file does
// behind the desktop keyring: a secret the Credential Manager lacks is read
// from there (an old "Password"), and one written here is removed there once
// it reads back.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "secrets/FileSecretStore.h"
#include "secrets/SecretStore.h"

namespace qm {

class Registry;

// What one credential's blob holds since Windows 7 (mingw-w64's wincred.h
// still names the older limit, 512).
inline constexpr std::size_t kCredentialBlobBytes = 5 * 512;

// The place of the registry's mail profile, for the user:
// "HKEY_CURRENT_USER\SOFTWARE\Vantrel\Quillmar\Mail".
std::string MailProfileRegistryPlace();

// The target name of the credential that holds a secret.
std::string CredentialTarget(SecretKind kind, const std::string& store);

class CredentialSecretStore : public SecretStore {
 public:
  // `registry`'s mail profile is read and cleaned behind the credentials.
  explicit CredentialSecretStore(Registry& registry);

  std::optional<std::string> Read(SecretKind kind, const std::string& store) override;
  // Writes the credential and reads it back; only a secret that reads back
  // the same leaves the registry. Throws Failure(SignOn) otherwise.
  void Write(SecretKind kind, const std::string& store, const std::string& secret) override;
  void Erase(SecretKind kind, const std::string& store) override;
  std::string Where() const override { return "Windows Credential Manager"; }
  bool IsKeyring() const override { return true; }

  // The credential alone, without the registry behind it.
  std::optional<std::string> ReadCredentialOnly(SecretKind kind, const std::string& store);

 private:
  FileSecretStore registry_store_;
};

}  // namespace qm
