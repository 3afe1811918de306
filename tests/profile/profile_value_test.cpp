#include "profile/ProfileValue.h"

#include <gtest/gtest.h>
#include <langinfo.h>
#include <stdlib.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "profile/MailProfile.h"
#include "settings/RegFileRegistry.h"
#include "settings/Settings.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr char kLocale[] = "ja_JP.eucJP";
constexpr char kUtf8Inbox[] = "受信";
constexpr char kEucJpInbox[] = "\xbc\xf5\xbf\xae";  // 受信 in EUC-JP

// Each test runs under a locale whose character set is not UTF-8 (EUC-JP),
// made from the system's locale sources into a folder of the test when the
// system has not generated it.
class UnderEucJpLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::setlocale(LC_CTYPE, kLocale) == nullptr) {
      const std::string make = "localedef -i ja_JP -f EUC-JP " +
                               (locales_.path() / kLocale).string() + " >/dev/null 2>&1";
      std::system(make.c_str());  // it may warn; whether the locale loads is what counts
      ::setenv("LOCPATH", locales_.path().c_str(), 1);
    }
    ASSERT_NE(std::setlocale(LC_CTYPE, kLocale), nullptr)
        << "no " << kLocale << " locale, and localedef could not make one (package locales)";
    ASSERT_STREQ(nl_langinfo(CODESET), "EUC-JP");
    Settings = SettingsRecord{};
  }
  void TearDown() override {
    std::setlocale(LC_CTYPE, "C");
    ::unsetenv("LOCPATH");
    Settings = SettingsRecord{};
  }

  std::filesystem::path File() const { return home_.path() / "Quillmar.reg"; }

  TempDir locales_;
  TempDir home_;
};

// A text of the mail profile goes into the file as a text of the settings
// does: in the locale's character set.
TEST_F(UnderEucJpLocale, ProfileTextsAreStoredLikeTheSettings) {
  {
    RegFileRegistry registry(File());
    Settings.Path = kUtf8Inbox;
    SaveSettings(registry);
    SaveMailProfile(registry, {std::string("maildir:/m/") + kUtf8Inbox, "", ""});
  }
  const std::string file = ReadFile(File());
  EXPECT_NE(file.find(std::string("\"PATH1\"=\"") + kEucJpInbox + "\""), std::string::npos) << file;
  EXPECT_NE(file.find(std::string("\"Store\"=\"maildir:/m/") + kEucJpInbox + "\""),
            std::string::npos)
      << file;

  RegFileRegistry registry(File());
  EXPECT_EQ(ReadMailProfile(registry).store, std::string("maildir:/m/") + kUtf8Inbox);
}

// What the file holds, whoever wrote it, reads back by one rule for the
// settings and the profile alike: the locale's characters, else UTF-8 (as
// earlier versions wrote the profile), else '?' for each byte that is none.
TEST_F(UnderEucJpLocale, StoredTextsOfEveryWriterReadBack) {
  const struct {
    const char* writer;
    std::string stored;
    std::string read;
  } cases[] = {
      {"this version", kEucJpInbox, kUtf8Inbox},
      {"an earlier version, UTF-8", kUtf8Inbox, kUtf8Inbox},
      {"plain ASCII", "in", "in"},
      {"neither", "in\xff", "in?"},
  };
  for (const auto& c : cases) {
    WriteFile(File(),
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n\"PATH1\"=\"" +
                  c.stored +
                  "\"\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\n"
                  "\"Store\"=\"maildir:/m/" +
                  c.stored + "\"\n");
    RegFileRegistry registry(File());
    EXPECT_EQ(ReadProfileText(registry, kMailStoreValue), "maildir:/m/" + c.read) << c.writer;
    LoadSettings(registry);
    EXPECT_EQ(Settings.Path, c.read) << c.writer;
  }
}

}  // namespace
}  // namespace qm
