#pragma once
// The secrets as values of the mail profile in the settings file (mode 0600):
// "Password", "RefreshToken" and "AccessToken" under
// [HKEY_CURRENT_USER\SOFTWARE\Vantrel\Quillmar\Mail]. The file names one
// mailbox, so the mailbox a secret belongs to is not part of its place.
// A secret is kept byte for byte as given (UTF-8), closed by one NUL: unlike
// the other texts of the settings it does not go through the ANSI character
// set, which may lack a character of a password.

#include <optional>
#include <string>

#include "secrets/SecretStore.h"

namespace qm {

// The profile value that holds a secret of `kind`.
const char* FileSecretValueName(SecretKind kind);

// True when the settings file behind `registry` keeps a secret: a value
// "Password", "RefreshToken" or "AccessToken" with text in it.
bool FileHoldsSecret(Registry& registry);

// How a secret's bytes are kept in the value.
enum class SecretEncoding {
  kUtf8,      // byte for byte: the settings file
  kAnsiText,  // text in the ANSI code page, as the Windows registry's A functions give it
};

class FileSecretStore : public SecretStore {
 public:
  // `file` is the path of the settings file (on Windows the registry key),
  // for Where() and the failures.
  FileSecretStore(Registry& registry, std::string file,
                  SecretEncoding encoding = SecretEncoding::kUtf8);

  std::optional<std::string> Read(SecretKind kind, const std::string& store) override;
  void Write(SecretKind kind, const std::string& store, const std::string& secret) override;
  void Erase(SecretKind kind, const std::string& store) override;
  std::string Where() const override { return file_; }
  bool IsKeyring() const override { return false; }

 private:
  Registry& registry_;
  std::string file_;
  SecretEncoding encoding_;
};

}  // namespace qm
