// The Credential Manager store on Windows, with the registry's mail profile
// behind it. The cases share the machine's one mail profile key and leave no
// secret in it or in the Credential Manager.
#include "secrets/CredentialSecretStore.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <wincred.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
// The targets another program looks the secrets up by.
const std::wstring kPasswordTarget = L"Quillmar/password/imaps://taro@mail.example.jp/INBOX";
const std::wstring kAccessTarget = L"Quillmar/access-token/imaps://taro@mail.example.jp/INBOX";
const std::wstring kRefreshTarget = L"Quillmar/refresh-token/imaps://taro@mail.example.jp/INBOX";
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
    std::wstring target;
    std::optional<std::string> reads;
  } cases[] = {
      {"a Japanese password",
       [](SecretStore& s) { s.Write(SecretKind::kPassword, kStore, "パス🔑"); },
       SecretKind::kPassword, kStore, kPasswordTarget, "パス🔑"},
      {"an empty secret is kept as empty, not as missing",
       [](SecretStore& s) { s.Write(SecretKind::kAccessToken, kStore, ""); },
       SecretKind::kAccessToken, kStore, kAccessTarget, ""},
      {"a store with Japanese in its name",
       [](SecretStore& s) { s.Write(SecretKind::kRefreshToken, kJapaneseStore, "1//r"); },
       SecretKind::kRefreshToken, kJapaneseStore, L"Quillmar/refresh-token/maildir:C:/メール/受信",
       "1//r"},
      {"overwritten",
       [](SecretStore& s) {
         s.Write(SecretKind::kPassword, kStore, "a longer old password");
         s.Write(SecretKind::kPassword, kStore, "新");
       },
       SecretKind::kPassword, kStore, kPasswordTarget, "新"},
      {"each kind apart",
       [](SecretStore& s) {
         s.Write(SecretKind::kRefreshToken, kStore, "r");
         s.Write(SecretKind::kPassword, kStore, "pw");
       },
       SecretKind::kRefreshToken, kStore, kRefreshTarget, "r"},
      {"erased",
       [](SecretStore& s) {
         s.Write(SecretKind::kPassword, kStore, "pw");
         s.Erase(SecretKind::kPassword, kStore);
       },
       SecretKind::kPassword, kStore, kPasswordTarget, std::nullopt},
      {"missing, and erasing it changes nothing",
       [](SecretStore& s) { s.Erase(SecretKind::kPassword, kStore); }, SecretKind::kPassword,
       kStore, kPasswordTarget, std::nullopt},
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

// A token longer than one credential's blob holds goes on in more; a shorter
// secret after it leaves no part of it behind.
TEST_F(CredentialSecretStoreTest, ALongSecretIsSpreadOverCredentialsThatGoWithIt) {
  const std::wstring first = kAccessTarget;
  const std::wstring second = first + L"#2";
  const std::wstring third = first + L"#3";
  std::string japanese;
  while (japanese.size() < 6000) japanese += "トークン";
  const struct {
    std::string secret;
    std::vector<std::wstring> targets;
  } cases[] = {
      {std::string(kCredentialBlobBytes, 'a'), {first}},
      {std::string(kCredentialBlobBytes + 1, 'b'), {first, second}},
      {japanese, {first, second, third}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.secret.size());
    CredentialSecretStore secrets(registry_);
    secrets.Write(SecretKind::kAccessToken, kStore, c.secret);
    EXPECT_EQ(secrets.Read(SecretKind::kAccessToken, kStore), c.secret);
    for (const std::wstring& target : {first, second, third, first + L"#4"}) {
      const bool used = std::find(c.targets.begin(), c.targets.end(), target) != c.targets.end();
      EXPECT_EQ(ReadRaw(target).has_value(), used) << std::filesystem::path(target).string();
    }
    secrets.Write(SecretKind::kAccessToken, kStore, "short");
    EXPECT_EQ(secrets.Read(SecretKind::kAccessToken, kStore), "short");
    EXPECT_FALSE(ReadRaw(second).has_value());
    secrets.Write(SecretKind::kAccessToken, kStore, c.secret);
    secrets.Erase(SecretKind::kAccessToken, kStore);
    for (const std::wstring& target : c.targets) EXPECT_FALSE(ReadRaw(target).has_value());
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
  // Longer than any target name the Credential Manager takes.
  const std::string unkeepable =
      "imaps://u@h/" + std::string(CRED_MAX_GENERIC_TARGET_NAME_LENGTH, 'm');
  const struct {
    const char* what;
    std::string store;
    std::string in_registry;
    std::optional<std::string> credential_before;
    std::optional<std::string> credential_after;
    std::optional<std::string> registry_after;  // as stored: ANSI text and its NUL
  } cases[] = {
      {"moved", kStore, "パスワード", std::nullopt, "パスワード", std::nullopt},
      {"the credential's own is newer", kStore, "old", "newer", "newer", std::nullopt},
      {"an empty value is no secret to keep", kStore, "", std::nullopt, std::nullopt, std::nullopt},
      {"a refusal leaves the old copy", unkeepable, "パス", std::nullopt, std::nullopt,
       std::string("\x83\x70\x83\x58", 4) + '\0'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    CredentialSecretStore secrets(registry_);
    if (c.credential_before) secrets.Write(SecretKind::kPassword, c.store, *c.credential_before);
    PutInRegistry(SecretKind::kPassword, c.in_registry);
    PutInRegistry(SecretKind::kRefreshToken, "refresh");
    const bool fails = c.registry_after.has_value();
    try {
      EXPECT_TRUE(MoveSecretsIntoKeyring(registry_, c.store));
      EXPECT_FALSE(fails);
    } catch (const Failure& failure) {
      EXPECT_TRUE(fails) << failure.what();
      EXPECT_EQ(failure.kind(), FailureKind::SignOn);
    }
    EXPECT_EQ(InRegistry(SecretKind::kPassword), c.registry_after);
    if (fails) continue;
    EXPECT_EQ(secrets.ReadCredentialOnly(SecretKind::kPassword, c.store), c.credential_after);
    EXPECT_EQ(secrets.ReadCredentialOnly(SecretKind::kRefreshToken, c.store), "refresh");
    EXPECT_EQ(InRegistry(SecretKind::kRefreshToken), std::nullopt);
  }
  TearDown();
  CredentialSecretStore(registry_).Erase(SecretKind::kPassword, kStore);  // the registry's copy
}

}  // namespace
}  // namespace qm
