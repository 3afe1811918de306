#include "secrets/FileSecretStore.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "base/Failure.h"
#include "base/WipeSecret.h"
#include "secrets/MailProfileKey.h"
#include "settings/Registry.h"

namespace qm {
namespace {

Failure WriteFailure(const std::string& file) {
  return Failure(FailureKind::SignOn, Cause::kNoMailbox,
                 "cannot write the mail profile to " + file);
}

// Closes the key when the scope ends, however it ends.
class OpenedKey {
 public:
  OpenedKey(Registry& registry, RegistryKey key) : registry_(registry), key_(key) {}
  ~OpenedKey() {
    if (key_ != 0) registry_.CloseKey(key_);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;

  RegistryKey get() const { return key_; }
  // Closes now, for a store that writes at the close; its result.
  long Close() { return registry_.CloseKey(std::exchange(key_, 0)); }

 private:
  Registry& registry_;
  RegistryKey key_;
};

}  // namespace

const char* FileSecretValueName(SecretKind kind) {
  switch (kind) {
    case SecretKind::kPassword:
      return kMailPasswordValue;
    case SecretKind::kRefreshToken:
      return kMailRefreshTokenValue;
    case SecretKind::kAccessToken:
      return kMailAccessTokenValue;
  }
  return kMailPasswordValue;
}

bool FileHoldsSecret(Registry& registry) {
  RegistryKey raw = 0;
  if (registry.OpenKey(RegistryRoot::CurrentUser, kMailProfileKey, &raw) != kErrorSuccess) {
    return false;
  }
  OpenedKey key(registry, raw);
  for (const SecretKind kind :
       {SecretKind::kPassword, SecretKind::kRefreshToken, SecretKind::kAccessToken}) {
    Bytes data;
    if (registry.QueryValue(key.get(), FileSecretValueName(kind), nullptr, &data) !=
        kErrorSuccess) {
      continue;
    }
    const bool holds_text = !data.empty() && data.front() != 0;
    WipeSecret(data);
    if (holds_text) return true;
  }
  return false;
}

FileSecretStore::FileSecretStore(Registry& registry, std::string file)
    : registry_(registry), file_(std::move(file)) {}

std::optional<std::string> FileSecretStore::Read(SecretKind kind, const std::string&) {
  RegistryKey raw = 0;
  if (registry_.OpenKey(RegistryRoot::CurrentUser, kMailProfileKey, &raw) != kErrorSuccess) {
    return std::nullopt;
  }
  OpenedKey key(registry_, raw);
  std::uint32_t type = 0;
  Bytes data;
  if (registry_.QueryValue(key.get(), FileSecretValueName(kind), &type, &data) != kErrorSuccess) {
    return std::nullopt;
  }
  std::string secret(data.begin(), std::find(data.begin(), data.end(), std::uint8_t{0}));
  WipeSecret(data);
  if (type != kRegSz) {
    WipeSecret(secret);
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "the mail profile value \"" + std::string(FileSecretValueName(kind)) +
                      "\" is not text (in " + file_ + ")");
  }
  return secret;
}

void FileSecretStore::Write(SecretKind kind, const std::string&, const std::string& secret) {
  RegistryKey raw = 0;
  if (registry_.CreateKey(RegistryRoot::CurrentUser, kMailProfileKey, &raw) != kErrorSuccess) {
    throw WriteFailure(file_);
  }
  OpenedKey key(registry_, raw);
  Bytes data(secret.begin(), secret.end());
  data.push_back(0);
  const long result = registry_.SetValue(key.get(), FileSecretValueName(kind), kRegSz, data);
  WipeSecret(data);
  const long closed = key.Close();  // the file store writes here
  if (result != kErrorSuccess || closed != kErrorSuccess) throw WriteFailure(file_);
}

void FileSecretStore::Erase(SecretKind kind, const std::string&) {
  RegistryKey raw = 0;
  if (registry_.OpenKey(RegistryRoot::CurrentUser, kMailProfileKey, &raw) != kErrorSuccess) {
    return;  // no profile, so no secret either
  }
  OpenedKey key(registry_, raw);
  const long result = registry_.DeleteValue(key.get(), FileSecretValueName(kind));
  const long closed = key.Close();
  if ((result != kErrorSuccess && result != kErrorFileNotFound) || closed != kErrorSuccess) {
    throw WriteFailure(file_);
  }
}

}  // namespace qm
