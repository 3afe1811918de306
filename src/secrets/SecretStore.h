#pragma once
// Where the secrets of a mailbox are kept: its password, and for a mailbox
// signed on to with OAuth 2.0 the refresh token and the latest access token.
// The desktop keyring (the Secret Service, through libsecret) when one is
// reachable; otherwise the settings file (mode 0600), as before.

#include <memory>
#include <optional>
#include <string>

namespace qm {

class Registry;

enum class SecretKind {
  kPassword,      // the password of the mailbox
  kRefreshToken,  // the OAuth 2.0 refresh token
  kAccessToken,   // the latest OAuth 2.0 access token, with its expiry
};

// The name of `kind` where a store names it: "password", "refresh-token" or
// "access-token" (the keyring's "kind" attribute, the Credential Manager's
// target).
const char* SecretKindName(SecretKind kind);

class SecretStore {
 public:
  virtual ~SecretStore() = default;

  // The secret of `kind` for the mailbox `store` (the profile's "Store"
  // value), or nothing when none is kept. Throws Failure(SignOn) when the
  // store cannot be asked.
  virtual std::optional<std::string> Read(SecretKind kind, const std::string& store) = 0;
  // Keeps `secret`, replacing the one kept before. Throws Failure(SignOn).
  virtual void Write(SecretKind kind, const std::string& store, const std::string& secret) = 0;
  // Forgets the secret; nothing happens when none is kept.
  virtual void Erase(SecretKind kind, const std::string& store) = 0;

  // Where the secrets go, for the user: the name of the keyring (the label of
  // its default collection, e.g. "Login"), or the path of the settings file.
  virtual std::string Where() const = 0;
  // True for the desktop keyring, false for the settings file.
  virtual bool IsKeyring() const = 0;
};

// The keyring when a Secret Service answers on the session bus, the settings
// file behind `registry` otherwise; on Windows the Credential Manager, with
// the registry behind it. An old "Password" value of the file or registry is
// still read through the keyring store until the dialog stores a new one.
std::unique_ptr<SecretStore> OpenSecretStore(Registry& registry);

}  // namespace qm
