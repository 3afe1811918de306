// Run by with_keyring.sh: a session bus of its own at $XDG_RUNTIME_DIR/bus and
// an unlocked gnome-keyring on it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/Failure.h"
#include "profile/MailProfile.h"
#include "secrets/KeyringSecretStore.h"
#include "secrets/MoveSecretsIntoKeyring.h"
#include "secrets/SecretStore.h"
#include "settings/ConfigLocation.h"
#include "settings/RegFileRegistry.h"
#include "tests/support/CiSkip.h"
#include "tests/support/EnvOverride.h"
#include "tests/support/FileBytes.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace qm {
namespace {

using testing::EnvOverride;
using testing::ReadFile;
using testing::TempDir;

constexpr char kStore[] = "imaps://taro@mail.example.jp/INBOX";
constexpr char kOtherStore[] = "imaps://hanako@mail.example.jp/INBOX";
const std::string kMailSection = "[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\n";

std::map<std::string, std::string> ThisEnvironment() {
  std::map<std::string, std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) env[text.substr(0, equals)] = text.substr(equals + 1);
  }
  return env;
}

// What another program sees in the keyring under our schema's attributes.
testing::ProgramResult SecretToolLookup(const std::string& store, const std::string& kind) {
  return testing::RunProgram(
      "/usr/bin/secret-tool",
      {"lookup", "xdg:schema", "com.vantrel.Quillmar.Mail", "store", store, "kind", kind},
      ThisEnvironment());
}

// Runs one of the DISABLED_ tests below in a process of its own, with the
// environment changed as `changes` say (an empty value removes the variable):
// a process connects to the session bus once, at its first use.
testing::ProgramResult RunInNextProcess(const std::string& test,
                                        const std::map<std::string, std::string>& changes) {
  std::map<std::string, std::string> env = ThisEnvironment();
  for (const auto& [name, value] : changes) {
    if (value.empty()) {
      env.erase(name);
    } else {
      env[name] = value;
    }
  }
  return testing::RunProgram("/proc/self/exe",
                             {"--gtest_also_run_disabled_tests", "--gtest_filter=" + test}, env);
}

void ExpectPassedIn(const testing::ProgramResult& run) {
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("[  PASSED  ] 1 test."), std::string::npos) << run.out;
}

// The tests run in a process of their own: the settings file is the one the
// parent test names in XDG_CONFIG_HOME.
class KeyringNextRun : public ::testing::Test {
 protected:
  std::string Settings() const { return ReadFile(SettingsFilePath()); }
  RegFileRegistry registry_{SettingsFilePath()};
};

TEST_F(KeyringNextRun, DISABLED_ReadsWhatTheFirstStored) {
  EXPECT_TRUE(HasStoredPassword(registry_));
  const std::unique_ptr<SecretStore> secrets = OpenSecretStore(registry_);
  EXPECT_TRUE(secrets->IsKeyring());
  EXPECT_EQ(secrets->Read(SecretKind::kPassword, kStore), "typed in the dialog");
}

TEST_F(KeyringNextRun, DISABLED_FindsTheKeyring) {
  EXPECT_TRUE(OpenSecretStore(registry_)->IsKeyring());
}

TEST_F(KeyringNextRun, DISABLED_KeepsTheSecretInTheFile) {
  const std::unique_ptr<SecretStore> secrets = OpenSecretStore(registry_);
  EXPECT_FALSE(secrets->IsKeyring());
  EXPECT_EQ(secrets->Where(), SettingsFilePath().string());
  SaveMailProfile(registry_, {kStore, "in the file", ""});
  EXPECT_NE(Settings().find("\"Password\"=\"in the file\""), std::string::npos);
  EXPECT_FALSE(MoveSecretsIntoKeyring(registry_, kStore));
  EXPECT_EQ(OpenSecretStore(registry_)->Read(SecretKind::kPassword, kStore), "in the file");
}

// A settings file of its own for each test, through XDG_CONFIG_HOME.
class KeyringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SessionBusAddressReachable()) {
      QM_SKIP_OUTSIDE_CI("no keyring: run this test through with_keyring.sh (ctest does)");
    }
  }
  static bool SessionBusAddressReachable() {
    RegFileRegistry probe("/nonexistent/quillmar-probe.reg");
    return OpenSecretStore(probe)->IsKeyring();
  }

  void WriteSettings(const std::string& text) {
    std::filesystem::create_directories(SettingsFilePath().parent_path());
    testing::WriteFile(SettingsFilePath(), text);
  }
  std::string Settings() const { return ReadFile(SettingsFilePath()); }

  TempDir config_;
  EnvOverride config_home_{"XDG_CONFIG_HOME", config_.path().string()};
  RegFileRegistry registry_{SettingsFilePath()};
};

TEST_F(KeyringTest, SecretsGoIntoTheKeyringAndNeverIntoTheFile) {
  const std::unique_ptr<SecretStore> secrets = OpenSecretStore(registry_);
  ASSERT_TRUE(secrets->IsKeyring());
  EXPECT_FALSE(secrets->Where().empty());
  const struct {
    SecretKind kind;
    const char* store;
    std::string secret;
    const char* kind_name;
  } cases[] = {
      {SecretKind::kPassword, kStore, "pässwörd パス", "password"},
      {SecretKind::kRefreshToken, kStore, "1//0refresh-token", "refresh-token"},
      {SecretKind::kAccessToken, kStore, "ya29.access 1767225600", "access-token"},
      {SecretKind::kPassword, kOtherStore, "hanako's", "password"},
  };
  for (const auto& c : cases) secrets->Write(c.kind, c.store, c.secret);
  secrets->Write(SecretKind::kPassword, kStore, "replaced");  // one item per store and kind
  for (const auto& c : cases) {
    SCOPED_TRACE(c.secret);
    const std::string expected =
        c.kind == SecretKind::kPassword && c.store == kStore ? "replaced" : c.secret;
    EXPECT_EQ(secrets->Read(c.kind, c.store), expected);
    const testing::ProgramResult seen = SecretToolLookup(c.store, c.kind_name);
    EXPECT_EQ(seen.out, expected);
    EXPECT_EQ(Settings().find(c.secret), std::string::npos);
  }
  EXPECT_EQ(Settings().find("replaced"), std::string::npos);

  secrets->Erase(SecretKind::kPassword, kStore);
  secrets->Erase(SecretKind::kPassword, kStore);  // erasing nothing is no failure
  EXPECT_EQ(secrets->Read(SecretKind::kPassword, kStore), std::nullopt);
  EXPECT_EQ(secrets->Read(SecretKind::kPassword, kOtherStore), "hanako's");
  EXPECT_EQ(secrets->Read(SecretKind::kRefreshToken, kStore), "1//0refresh-token");
  for (const char* store : {kStore, kOtherStore}) {
    for (SecretKind kind :
         {SecretKind::kPassword, SecretKind::kRefreshToken, SecretKind::kAccessToken}) {
      secrets->Erase(kind, store);
    }
  }
}

TEST_F(KeyringTest, APasswordSavedWithTheProfileIsReadInTheNextRun) {
  const std::string others = "REGEDIT4\n\n; by hand\n" + kMailSection + "\"Store\"=\"old\"\n";
  WriteSettings(others);
  SaveMailProfile(registry_, {kStore, "typed in the dialog", ""});
  const std::string saved = Settings();
  EXPECT_EQ(saved.find("typed in the dialog"), std::string::npos);
  EXPECT_EQ(saved.find("Password"), std::string::npos);
  EXPECT_NE(saved.find("; by hand\n"), std::string::npos);

  ExpectPassedIn(RunInNextProcess("KeyringNextRun.DISABLED_ReadsWhatTheFirstStored",
                                  {{"XDG_CONFIG_HOME", config_.path().string()}}));
  OpenSecretStore(registry_)->Erase(SecretKind::kPassword, kStore);
}

TEST_F(KeyringTest, AnOldPasswordInTheFileKeepsWorkingUntilItMovesIntoTheKeyring) {
  const std::string before = "REGEDIT4\n\n" + kMailSection + "\"Store\"=\"" + kStore +
                             "\"\n\"Password\"=\"from an older version\" ; mine\n"
                             "\"RefreshToken\"=\"1//old-refresh\"\n\"CAFile\"=\"\"\n";
  const std::string after =
      "REGEDIT4\n\n" + kMailSection + "\"Store\"=\"" + kStore + "\"\n\"CAFile\"=\"\"\n";
  const struct {
    const char* what;
    std::function<void(Registry&)> move;
  } cases[] = {
      {"saving the profile with the password left empty",
       [](Registry& registry) {
         SaveMailProfile(registry, {kStore, "", ""});
       }},
      {"moving the secrets",
       [](Registry& registry) { EXPECT_TRUE(MoveSecretsIntoKeyring(registry, kStore)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteSettings(before);
    EXPECT_TRUE(HasStoredPassword(registry_));
    EXPECT_EQ(OpenSecretStore(registry_)->Read(SecretKind::kPassword, kStore),
              "from an older version");
    c.move(registry_);
    EXPECT_EQ(Settings(), after);
    EXPECT_TRUE(HasStoredPassword(registry_));
    const testing::ProgramResult seen = SecretToolLookup(kStore, "password");
    EXPECT_EQ(seen.out, "from an older version");
    const std::unique_ptr<SecretStore> secrets = OpenSecretStore(registry_);
    EXPECT_EQ(secrets->Read(SecretKind::kRefreshToken, kStore), "1//old-refresh");
    secrets->Erase(SecretKind::kPassword, kStore);
    secrets->Erase(SecretKind::kRefreshToken, kStore);
  }
}

TEST_F(KeyringTest, APasswordFollowsTheMailboxToItsNewStoreValue) {
  SaveMailProfile(registry_, {kStore, "kept", ""});
  SaveMailProfile(registry_, {kOtherStore, "", ""});  // the user changed, the password not
  const std::unique_ptr<SecretStore> secrets = OpenSecretStore(registry_);
  EXPECT_EQ(secrets->Read(SecretKind::kPassword, kOtherStore), "kept");
  EXPECT_EQ(secrets->Read(SecretKind::kPassword, kStore), std::nullopt);
  secrets->Erase(SecretKind::kPassword, kOtherStore);
}

// A systemd user timer's environment may name no bus: the logged-in user's
// bus at $XDG_RUNTIME_DIR/bus is found all the same.
TEST_F(KeyringTest, TheBusOfTheRuntimeFolderIsFoundWithoutAnAddress) {
  ExpectPassedIn(RunInNextProcess("KeyringNextRun.DISABLED_FindsTheKeyring",
                                  {{"DBUS_SESSION_BUS_ADDRESS", ""}}));
}

TEST_F(KeyringTest, WithoutAReachableKeyringTheSecretStaysInThePrivateFile) {
  TempDir empty_runtime;
  const struct {
    const char* what;
    std::string address;
    std::string runtime;
  } cases[] = {
      {"no bus address and no bus socket", "", empty_runtime.path().string()},
      {"no bus address and no runtime folder", "", ""},
      {"an address nothing listens at", "unix:path=" + (empty_runtime / "none").string(),
       empty_runtime.path().string()},
      {"a bus without a keyring", "disabled:", empty_runtime.path().string()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteSettings("");
    ExpectPassedIn(RunInNextProcess("KeyringNextRun.DISABLED_KeepsTheSecretInTheFile",
                                    {{"DBUS_SESSION_BUS_ADDRESS", c.address},
                                     {"XDG_RUNTIME_DIR", c.runtime},
                                     {"XDG_CONFIG_HOME", config_.path().string()}}));
  }
}

// Last: the keyring stays locked after it.
TEST_F(KeyringTest, ZLockedKeyringIsAFailureNotAPrompt) {
  const std::unique_ptr<SecretStore> secrets = OpenSecretStore(registry_);
  secrets->Write(SecretKind::kPassword, kStore, "behind the lock");
  const testing::ProgramResult locked =
      testing::RunProgram("/usr/bin/dbus-send",
                          {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                           "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                           "array:objpath:/org/freedesktop/secrets/collection/login"},
                          ThisEnvironment(), std::chrono::seconds(10));
  ASSERT_EQ(locked.exit_code, 0) << locked.err;
  for (const auto& action : std::initializer_list<std::function<void()>>{
           [&] { secrets->Read(SecretKind::kPassword, kStore); },
           [&] { secrets->Write(SecretKind::kPassword, kStore, "new"); },
           [&] { secrets->Erase(SecretKind::kPassword, kStore); }}) {
    try {
      action();
      ADD_FAILURE() << "a locked keyring was used";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::SignOn);
      EXPECT_NE(std::string(failure.what()).find("locked"), std::string::npos) << failure.what();
    }
  }
}

}  // namespace
}  // namespace qm
