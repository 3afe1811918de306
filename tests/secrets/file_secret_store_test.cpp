#include "secrets/FileSecretStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "base/Failure.h"
#include "settings/RegFileRegistry.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using testing::ReadFile;
using testing::TempDir;

constexpr char kStore[] = "imaps://u@example.com/INBOX";
const std::string kMail = "[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\n";
const std::string kOthers =
    "REGEDIT4\n\n; kept by hand\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n"
    "\"PATH1\"=\"/dest\"\n\n";

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  ::chmod(path.c_str(), 0600);
}

TEST(FileSecretStoreTest, SecretsAreValuesOfTheMailProfileAndNothingElseChanges) {
  using Step = std::function<void(SecretStore&)>;
  const struct {
    const char* what;
    std::string before;
    Step step;
    std::string after;
  } cases[] = {
      {"a password goes beside the other values",
       kOthers + kMail + "\"Store\"=\"imaps://u@example.com/INBOX\" ; mine\n",
       [](SecretStore& s) { s.Write(SecretKind::kPassword, kStore, "p\"w\\1"); },
       kOthers + kMail +
           "\"Store\"=\"imaps://u@example.com/INBOX\" ; mine\n\"Password\"=\"p\\\"w\\\\1\"\n"},
      {"each kind has its own value", kOthers + kMail + "\"Password\"=\"old\"\n",
       [](SecretStore& s) {
         s.Write(SecretKind::kRefreshToken, kStore, "r1");
         s.Write(SecretKind::kAccessToken, kStore, "a1");
         s.Write(SecretKind::kPassword, kStore, "new");
       },
       kOthers + kMail + "\"Password\"=\"new\"\n\"RefreshToken\"=\"r1\"\n\"AccessToken\"=\"a1\"\n"},
      {"erasing takes out the value's line alone",
       kOthers + kMail + "\"Store\"=\"s\"\n\"Password\"=\"pw\"\n\"CAFile\"=\"\"\n",
       [](SecretStore& s) { s.Erase(SecretKind::kPassword, kStore); },
       kOthers + kMail + "\"Store\"=\"s\"\n\"CAFile\"=\"\"\n"},
      {"erasing what is not there leaves the file as it was",
       kOthers + kMail + "\"Store\"=\"s\" ; x\n",
       [](SecretStore& s) { s.Erase(SecretKind::kRefreshToken, kStore); },
       kOthers + kMail + "\"Store\"=\"s\" ; x\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const auto file = dir / "s.reg";
    WriteText(file, c.before);
    RegFileRegistry registry(file);
    FileSecretStore store(registry, file.string());
    c.step(store);
    EXPECT_EQ(ReadFile(file), c.after);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
  }
}

TEST(FileSecretStoreTest, ReadsBackWhatWasWrittenUntilErased) {
  TempDir dir;
  const auto file = dir / "config" / "s.reg";
  RegFileRegistry registry(file);
  FileSecretStore store(registry, file.string());
  EXPECT_EQ(store.Read(SecretKind::kPassword, kStore), std::nullopt);  // no file at all
  store.Erase(SecretKind::kPassword, kStore);                          // and nothing to erase
  EXPECT_FALSE(std::filesystem::exists(file));

  store.Write(SecretKind::kPassword, kStore, "パスワード");
  store.Write(SecretKind::kRefreshToken, kStore, "1//refresh");
  EXPECT_EQ(store.Read(SecretKind::kPassword, kStore), "パスワード");
  EXPECT_EQ(store.Read(SecretKind::kRefreshToken, kStore), "1//refresh");
  EXPECT_EQ(store.Read(SecretKind::kAccessToken, kStore), std::nullopt);
  store.Erase(SecretKind::kPassword, kStore);
  EXPECT_EQ(store.Read(SecretKind::kPassword, kStore), std::nullopt);
  EXPECT_EQ(store.Read(SecretKind::kRefreshToken, kStore), "1//refresh");
  EXPECT_FALSE(store.IsKeyring());
  EXPECT_EQ(store.Where(), file.string());
}

TEST(FileSecretStoreTest, AValueThatIsNotTextOrAFileThatCannotBeWrittenIsASignOnFailure) {
  TempDir dir;
  const auto file = dir / "s.reg";
  WriteText(file, kMail + "\"Password\"=dword:00000001\n");
  RegFileRegistry registry(file);
  FileSecretStore store(registry, file.string());
  try {
    store.Read(SecretKind::kPassword, kStore);
    ADD_FAILURE() << "a number read as a password";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::SignOn);
    EXPECT_NE(std::string(failure.what()).find(file.string()), std::string::npos);
  }

  WriteText(dir / "plain", "x");
  RegFileRegistry blocked(dir / "plain" / "s.reg");  // the folder is a file
  FileSecretStore unwritable(blocked, "unwritable");
  try {
    unwritable.Write(SecretKind::kPassword, kStore, "secret-pw");
    ADD_FAILURE() << "a write that cannot happen succeeded";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::SignOn);
    EXPECT_EQ(std::string(failure.what()).find("secret-pw"), std::string::npos);
  }
}

}  // namespace
}  // namespace qm
