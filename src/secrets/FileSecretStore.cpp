#include "secrets/FileSecretStore.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "base/Failure.h"
#include "base/WipeSecret.h"
#include "secrets/MailProfileKey.h"
#include "settings/OpenedKey.h"
#include "settings/StoredText.h"

namespace qm {
namespace {

Failure WriteFailure(const std::string& file) {
  return Failure(FailureKind::SignOn, Cause::kNoMailbox,
                 "cannot write the mail profile to " + file);
}

OpenedKey ProfileKey(Registry& registry, OpenedKey::Access access) {
  return OpenedKey(registry, RegistryRoot::CurrentUser, kMailProfileKey, access);
}

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
  const OpenedKey key = ProfileKey(registry, OpenedKey::Access::kRead);
  for (const SecretKind kind :
       {SecretKind::kPassword, SecretKind::kRefreshToken, SecretKind::kAccessToken}) {
    std::optional<RegistryData> value = key.Query(FileSecretValueName(kind));
    if (!value) continue;
    const bool holds_text = !value->data.empty() && value->data.front() != 0;
    WipeSecret(value->data);
    if (holds_text) return true;
  }
  return false;
}

FileSecretStore::FileSecretStore(Registry& registry, std::string file, SecretEncoding encoding)
    : registry_(registry), file_(std::move(file)), encoding_(encoding) {}

std::optional<std::string> FileSecretStore::Read(SecretKind kind, const std::string&) {
  const OpenedKey key = ProfileKey(registry_, OpenedKey::Access::kRead);
  std::optional<RegistryData> value = key.Query(FileSecretValueName(kind));
  if (!value) return std::nullopt;
  const Bytes& data = value->data;
  std::string secret =
      encoding_ == SecretEncoding::kAnsiText
          ? TextOfStored(data)
          : std::string(data.begin(), std::find(data.begin(), data.end(), std::uint8_t{0}));
  WipeSecret(value->data);
  if (value->type != kRegSz) {
    WipeSecret(secret);
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "the mail profile value \"" + std::string(FileSecretValueName(kind)) +
                      "\" is not text (in " + file_ + ")");
  }
  return secret;
}

void FileSecretStore::Write(SecretKind kind, const std::string&, const std::string& secret) {
  OpenedKey key = ProfileKey(registry_, OpenedKey::Access::kCreate);
  if (!key.is_open()) throw WriteFailure(file_);
  Bytes data;
  if (encoding_ == SecretEncoding::kAnsiText) {
    data = StoredText(secret);
  } else {
    data.assign(secret.begin(), secret.end());
    data.push_back(0);
  }
  const long result = key.Set(FileSecretValueName(kind), kRegSz, data);
  WipeSecret(data);
  const long closed = key.Close();  // the file store writes here
  if (result != kErrorSuccess || closed != kErrorSuccess) throw WriteFailure(file_);
}

void FileSecretStore::Erase(SecretKind kind, const std::string&) {
  OpenedKey key = ProfileKey(registry_, OpenedKey::Access::kRead);
  if (!key.is_open()) return;  // no profile, so no secret either
  const long result = key.Delete(FileSecretValueName(kind));
  const long closed = key.Close();
  if ((result != kErrorSuccess && result != kErrorFileNotFound) || closed != kErrorSuccess) {
    throw WriteFailure(file_);
  }
}

}  // namespace qm
