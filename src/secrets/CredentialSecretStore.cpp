#include "secrets/CredentialSecretStore.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <wincred.h>

#include <memory>
#include <string>

#include "base/Failure.h"
#include "base/WipeSecret.h"
#include "secrets/MailProfileKey.h"
#include "secrets/Win32Text.h"

namespace qm {
namespace {

Failure CredentialFailure(const std::string& what, DWORD error) {
  return Failure(FailureKind::SignOn, Cause::kLoginRefused,
                 "the Windows Credential Manager " + what + ": " + SystemErrorText(error),
                 static_cast<int>(error));
}

std::wstring WideTarget(SecretKind kind, const std::string& store) {
  std::optional<std::wstring> target = WideFromUtf8(CredentialTarget(kind, store));
  if (!target) {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "the mail profile value \"Store\" is not text in UTF-8");
  }
  return *target;
}

struct CredentialRelease {
  void operator()(CREDENTIALW* credential) const { ::CredFree(credential); }
};
using CredentialPtr = std::unique_ptr<CREDENTIALW, CredentialRelease>;

}  // namespace

std::string MailProfileRegistryPlace() {
  return std::string("HKEY_CURRENT_USER\\") + kMailProfileKey;
}

std::string CredentialTarget(SecretKind kind, const std::string& store) {
  return "Quillmar/" + std::string(SecretKindName(kind)) + "/" + store;
}

CredentialSecretStore::CredentialSecretStore(Registry& registry)
    : registry_store_(registry, MailProfileRegistryPlace(), SecretEncoding::kAnsiText) {}

std::optional<std::string> CredentialSecretStore::ReadCredentialOnly(SecretKind kind,
                                                                     const std::string& store) {
  const std::wstring target = WideTarget(kind, store);
  CREDENTIALW* found = nullptr;
  if (!::CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &found)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_NOT_FOUND) return std::nullopt;
    throw CredentialFailure("cannot be read", error);
  }
  const CredentialPtr credential(found);
  const auto* bytes = reinterpret_cast<const char*>(credential->CredentialBlob);
  std::string secret(bytes, bytes + credential->CredentialBlobSize);
  ::SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
  return secret;
}

std::optional<std::string> CredentialSecretStore::Read(SecretKind kind, const std::string& store) {
  if (std::optional<std::string> secret = ReadCredentialOnly(kind, store)) return secret;
  return registry_store_.Read(kind, store);
}

void CredentialSecretStore::Write(SecretKind kind, const std::string& store,
                                  const std::string& secret) {
  if (secret.size() > CRED_MAX_CREDENTIAL_BLOB_SIZE) {
    throw Failure(FailureKind::SignOn, Cause::kLoginRefused,
                  "the Windows Credential Manager keeps at most " +
                      std::to_string(CRED_MAX_CREDENTIAL_BLOB_SIZE) + " bytes, and the " +
                      SecretKindName(kind) + " has " + std::to_string(secret.size()));
  }
  std::wstring target = WideTarget(kind, store);
  std::string blob = secret;  // CredWriteW takes a pointer it does not change, but not const
  CREDENTIALW credential{};
  credential.Type = CRED_TYPE_GENERIC;
  credential.TargetName = target.data();
  credential.CredentialBlobSize = static_cast<DWORD>(blob.size());
  credential.CredentialBlob = reinterpret_cast<LPBYTE>(blob.data());
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  const BOOL written = ::CredWriteW(&credential, 0);
  const DWORD error = ::GetLastError();
  WipeSecret(blob);
  if (!written) throw CredentialFailure("refused to keep the secret", error);
  std::optional<std::string> kept = ReadCredentialOnly(kind, store);
  const bool same = kept == secret;
  if (kept) WipeSecret(*kept);
  if (!same) {
    throw Failure(FailureKind::SignOn, Cause::kLoginRefused,
                  "the Windows Credential Manager did not give back the secret it was given");
  }
  registry_store_.Erase(kind, store);  // kept safely now: the registry's copy goes
}

void CredentialSecretStore::Erase(SecretKind kind, const std::string& store) {
  const std::wstring target = WideTarget(kind, store);
  if (!::CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_NOT_FOUND) throw CredentialFailure("refused to forget the secret", error);
  }
  registry_store_.Erase(kind, store);
}

}  // namespace qm
