#pragma once
// The secrets in the desktop keyring, through libsecret: one item per mailbox
// and kind, of the schema "com.vantrel.Quillmar.Mail" with the attributes
// "store" (the profile's "Store" value) and "kind" ("password",
// "refresh-token", "access-token"), labelled for a person reading the
// keyring, e.g. "Quillmar: password for imaps://user@host/INBOX".
//
// Nothing here prompts: a locked keyring is a sign-on failure that says to
// unlock it, never a wait for a dialog that an unattended run cannot show.
// The settings file stays behind it: a secret the keyring lacks is read from
// there (an old "Password"), and one written to the keyring is removed there.

#include <memory>
#include <optional>
#include <string>

#include "secrets/FileSecretStore.h"
#include "secrets/SecretStore.h"

namespace qm {

class KeyringSecretStore : public SecretStore {
 public:
  // The keyring when its service answers on the session bus within the time
  // limit, nothing otherwise. Never tries when no bus address is known.
  static std::unique_ptr<KeyringSecretStore> Connect(std::unique_ptr<FileSecretStore> file);
  ~KeyringSecretStore() override;
  KeyringSecretStore(const KeyringSecretStore&) = delete;
  KeyringSecretStore& operator=(const KeyringSecretStore&) = delete;

  std::optional<std::string> Read(SecretKind kind, const std::string& store) override;
  void Write(SecretKind kind, const std::string& store, const std::string& secret) override;
  void Erase(SecretKind kind, const std::string& store) override;
  // The label of the keyring's default collection, e.g. "Login".
  std::string Where() const override;
  bool IsKeyring() const override { return true; }

  // The keyring's own item, without the settings file behind it.
  std::optional<std::string> ReadKeyringOnly(SecretKind kind, const std::string& store);

 private:
  class Service;  // libsecret's connection, kept out of this header

  KeyringSecretStore(std::unique_ptr<Service> service, std::unique_ptr<FileSecretStore> file);

  std::unique_ptr<Service> service_;
  std::unique_ptr<FileSecretStore> file_;
};

}  // namespace qm
