// The Credential Manager store on Windows, with the registry's mail profile
// behind it. The cases use the machine's one mail profile key and leave it as
// they found no value in it.
#include "secrets/CredentialSecretStore.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <wincred.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "secrets/MailProfileKey.h"
#include "secrets/MoveSecretsIntoKeyring.h"
#include "settings/OpenedKey.h"
#include "settings/Win32Registry.h"

namespace qm {
namespace {

constexpr char kStore[] = "imaps://taro@mail.example.jp/INBOX";
constexpr char kJapaneseStore[] = "maildir:C:/メール/受信";
constexpr SecretKind kKinds[] = {SecretKind::kPassword, SecretKind::kRefreshToken,
                                 SecretKind::kAccessToken};

// The credential as another program sees it: its blob and how it is kept.
struct RawCredential {
  std::string blob;
  DWORD persist = 0;
};

std::optional<RawCredential> ReadRaw(const std::wstring& target) {
  CREDENTIALW* found = nullptr;
  if (!::CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &found)) return std::nullopt;
  const auto* bytes = reinterpret_cast<const char*>(found->CredentialBlob);
  RawCredential raw{std::string(bytes, bytes + found->CredentialBlobSize), found->Persist};
  ::CredFree(found);
  return raw;
}

class CredentialSecretStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    for (const char* store : {kStore, kJapaneseStore}) {
      for (const SecretKind kind : kKinds) CredentialSecretStore(registry_).Erase(kind, store);
    }
  }

  // What the registry's mail profile holds as `kind`, straight from the key.
  std::optional<std::string> InRegistry(SecretKind kind) {
    const OpenedKey key(registry_, RegistryRoot::CurrentUser, kMailProfileKey,
                        OpenedKey::Access::kRead);
    const std::optional<RegistryData> value = key.Query(FileSecretValueName(kind));
    if (!value) return std::nullopt;
    return std::string(value->data.begin(), value->data.end());
  }
  void PutInRegistry(SecretKind kind, const std::string& secret) {
    FileSecretStore(registry_, "registry", SecretEncoding::kAnsiText).Write(kind, kStore, secret);
  }

  Win32Registry registry_;
};

TEST_F(CredentialSecretStoreTest, KeepsEachSecretAsOneLocalCredentialOfUtf8Bytes) {
  using Step = std::function<void(SecretStore&)>;
  const struct {
    const char* what;
    Step step;
    SecretKind kind;
    const char* store;
    const wchar_t* target;  // what another program looks up
    std::optional<std::string> reads;
  } cases[] = {
      {"a Japanese password",
       [](SecretStore& s) { s.Write(SecretKind::kPassword, kStore, "パス🔑"); },
       SecretKind::kPassword, kStore, L"Quillmar/password/imaps://taro@mail.example.jp/INBOX",
       "パス🔑"},
      {"an empty secret is kept as empty, not as missing",
       [](SecretStore& s) { s.Write(SecretKind::kAccessToken, kStore, ""); },
       SecretKind::kAccessToken, kStore,
       L"Quillmar/access-token/imaps://taro@mail.example.jp/INBOX", ""},
      {"a store with Japanese in its name",
       [](SecretStore& s) { s.Write(SecretKind::kRefreshToken, kJapaneseStore, "1//r"); },
       SecretKind::kRefreshToken, kJapaneseStore, L"Quillmar/refresh-token/maildir:C:/メール/受信",
       "1//r"},
      {"overwritten",
       [](SecretStore& s) {
         s.Write(SecretKind::kPassword, kStore, "a longer old password");
         s.Write(SecretKind::kPassword, kStore, "新");
       },
       SecretKind::kPassword, kStore, L"Quillmar/password/imaps://taro@mail.example.jp/INBOX",
       "新"},
      {"each kind apart",
       [](SecretStore& s) {
         s.Write(SecretKind::kRefreshToken, kStore, "r");
         s.Write(SecretKind::kPassword, kStore, "pw");
       },
       SecretKind::kRefreshToken, kStore,
       L"Quillmar/refresh-token/imaps://taro@mail.example.jp/INBOX", "r"},
      {"erased",
       [](SecretStore& s) {
         s.Write(SecretKind::kPassword, kStore, "pw");
         s.Erase(SecretKind::kPassword, kStore);
       },
       SecretKind::kPassword, kStore, L"Quillmar/password/imaps://taro@mail.example.jp/INBOX",
       std::nullopt},
      {"erasing what is not there", [](SecretStore& s) { s.Erase(SecretKind::kPassword, kStore); },
       SecretKind::kPassword, kStore, L"Quillmar/password/imaps://taro@mail.example.jp/INBOX",
       std::nullopt},
      {"never written", [](SecretStore&) {}, SecretKind::kAccessToken, kStore,
       L"Quillmar/access-token/imaps://taro@mail.example.jp/INBOX", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    CredentialSecretStore secrets(registry_);
    c.step(secrets);
    EXPECT_EQ(secrets.Read(c.kind, c.store), c.reads);
    const std::optional<RawCredential> raw = ReadRaw(c.target);
    ASSERT_EQ(raw.has_value(), c.reads.has_value());
    if (!raw) continue;
    EXPECT_EQ(raw->blob, *c.reads);
    EXPECT_EQ(raw->persist, static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE));
  }
}

TEST_F(CredentialSecretStoreTest, AnOldRegistrySecretIsReadUntilTheCredentialReplacesIt) {
  PutInRegistry(SecretKind::kPassword, "old パスワード");
  CredentialSecretStore secrets(registry_);
  EXPECT_EQ(secrets.Read(SecretKind::kPassword, kStore), "old パスワード");
  EXPECT_EQ(secrets.ReadCredentialOnly(SecretKind::kPassword, kStore), std::nullopt);
  EXPECT_TRUE(secrets.IsKeyring());

  secrets.Write(SecretKind::kPassword, kStore, "new");
  EXPECT_EQ(InRegistry(SecretKind::kPassword), std::nullopt);
  EXPECT_EQ(secrets.Read(SecretKind::kPassword, kStore), "new");
  EXPECT_TRUE(OpenSecretStore(registry_)->IsKeyring());
}

TEST_F(CredentialSecretStoreTest, MovingLeavesTheRegistryOnlyOnceTheCredentialReadsBack) {
  const std::string too_long(CRED_MAX_CREDENTIAL_BLOB_SIZE + 1, 't');
  const struct {
    const char* what;
    std::string in_registry;
    std::optional<std::string> credential_before;
    std::optional<std::string> credential_after;
    std::optional<std::string> registry_after;
    bool fails;
  } cases[] = {
      {"moved", "パスワード", std::nullopt, "パスワード", std::nullopt, false},
      {"the credential's own is newer", "old", "newer", "newer", std::nullopt, false},
      {"an empty value is no secret to keep", "", std::nullopt, std::nullopt, std::nullopt, false},
      {"a refusal leaves the old copy", too_long, std::nullopt, std::nullopt, too_long + '\0',
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    CredentialSecretStore secrets(registry_);
    PutInRegistry(SecretKind::kPassword, c.in_registry);
    PutInRegistry(SecretKind::kRefreshToken, "refresh");
    if (c.credential_before) {
      // Written straight, so the registry's copy stays for the move to find.
      CredentialSecretStore(registry_).Write(SecretKind::kPassword, kStore, *c.credential_before);
      PutInRegistry(SecretKind::kPassword, c.in_registry);
    }
    try {
      EXPECT_TRUE(MoveSecretsIntoKeyring(registry_, kStore));
      EXPECT_FALSE(c.fails);
    } catch (const Failure& failure) {
      EXPECT_TRUE(c.fails) << failure.what();
      EXPECT_EQ(failure.kind(), FailureKind::SignOn);
    }
    EXPECT_EQ(secrets.ReadCredentialOnly(SecretKind::kPassword, kStore), c.credential_after);
    EXPECT_EQ(InRegistry(SecretKind::kPassword), c.registry_after);
    if (!c.fails) {
      EXPECT_EQ(secrets.ReadCredentialOnly(SecretKind::kRefreshToken, kStore), "refresh");
      EXPECT_EQ(InRegistry(SecretKind::kRefreshToken), std::nullopt);
    }
  }
}

}  // namespace
}  // namespace qm
