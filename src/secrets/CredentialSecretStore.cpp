#include "secrets/CredentialSecretStore.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <wincred.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Failure.h"
#include "base/WindowsText.h"
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
  std::wstring target;
  if (Utf16Of(CredentialTarget(kind, store), target) != 0) {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "the mail profile value \"Store\" is not text in UTF-8");
  }
  return target;
}

struct CredentialRelease {
  void operator()(CREDENTIALW* credential) const { ::CredFree(credential); }
};
using CredentialPtr = std::unique_ptr<CREDENTIALW, CredentialRelease>;

constexpr std::size_t kPartBytes = kCredentialBlobBytes;

std::wstring PartTarget(const std::wstring& target, std::size_t index) {
  return index == 0 ? target : target + L"#" + std::to_wstring(index + 1);
}

std::optional<std::string> ReadPart(const std::wstring& target) {
  CREDENTIALW* found = nullptr;
  if (!::CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &found)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_NOT_FOUND) return std::nullopt;
    throw CredentialFailure("cannot be read", error);
  }
  const CredentialPtr credential(found);
  const auto* bytes = reinterpret_cast<const char*>(credential->CredentialBlob);
  std::string part(bytes, bytes + credential->CredentialBlobSize);
  ::SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
  return part;
}

void WritePart(std::wstring target, std::string_view bytes) {
  std::string blob(bytes);  // CredWriteW does not change the blob, but takes no const
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
}

// Deletes the parts from `first` on, up to the first that is not there.
void DeleteParts(const std::wstring& target, std::size_t first) {
  for (std::size_t index = first;; ++index) {
    if (::CredDeleteW(PartTarget(target, index).c_str(), CRED_TYPE_GENERIC, 0)) continue;
    const DWORD error = ::GetLastError();
    if (error == ERROR_NOT_FOUND) return;
    throw CredentialFailure("refused to forget the secret", error);
  }
}

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
  std::optional<std::string> first = ReadPart(target);
  if (!first) return std::nullopt;
  std::vector<std::string> parts;
  parts.push_back(std::move(*first));
  // A full part may have a next one.
  while (parts.back().size() == kPartBytes) {
    std::optional<std::string> next = ReadPart(PartTarget(target, parts.size()));
    if (!next) break;
    parts.push_back(std::move(*next));
  }
  std::string secret;
  secret.reserve(parts.size() * kPartBytes);  // one buffer: no copy is left behind unwiped
  for (std::string& part : parts) {
    secret += part;
    WipeSecret(part);
  }
  return secret;
}

std::optional<std::string> CredentialSecretStore::Read(SecretKind kind, const std::string& store) {
  if (std::optional<std::string> secret = ReadCredentialOnly(kind, store)) return secret;
  return registry_store_.Read(kind, store);
}

void CredentialSecretStore::Write(SecretKind kind, const std::string& store,
                                  const std::string& secret) {
  const std::wstring target = WideTarget(kind, store);
  std::size_t parts = 0;
  do {
    WritePart(PartTarget(target, parts),
              std::string_view(secret).substr(parts * kPartBytes, kPartBytes));
    ++parts;
  } while (parts * kPartBytes < secret.size());
  DeleteParts(target, parts);  // what a longer secret before this one left
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
  DeleteParts(WideTarget(kind, store), 0);
  registry_store_.Erase(kind, store);
}

}  // namespace qm
