#include "settings/Settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <climits>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>

#include "settings/ConfigLocation.h"
#include "settings/OpenedKey.h"
#include "settings/RegFileRegistry.h"
#include "tests/settings/SettingsCases.h"
#include "tests/support/EnvOverride.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using testing::Describe;
using testing::Distinct;
using testing::Fields;
using testing::RoundTripCases;

using namespace std::string_view_literals;

// Every test gets its own XDG_CONFIG_HOME, so the real settings functions read
// and write a file in a fresh folder.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { Settings = SettingsRecord{}; }
  void TearDown() override { Settings = SettingsRecord{}; }

  std::filesystem::path File() const { return dir_.path() / "Vantrel" / "Quillmar.reg"; }

  void WriteSection(const std::string& lines) const {
    std::filesystem::create_directories(File().parent_path());
    std::ofstream(File(), std::ios::binary)
        << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n"
        << lines;
  }

  testing::TempDir dir_;
  testing::EnvOverride config_home_{"XDG_CONFIG_HOME", dir_.path().string()};
};

TEST_F(SettingsTest, FileLivesUnderTheConfigHome) {
  EXPECT_EQ(SettingsFilePath(), File());
  const char* home = std::getenv("HOME");
  for (const char* config_home : {"", "relative/dir"}) {
    ::setenv("XDG_CONFIG_HOME", config_home, 1);
    EXPECT_EQ(SettingsFilePath(),
              std::filesystem::path(home ? home : "") / ".config/Vantrel/Quillmar.reg");
  }
}

TEST_F(SettingsTest, SavedSettingsLoadBackUnchanged) {
  const std::vector<SettingsRecord> cases = RoundTripCases("/home/u/受信", "C:\\in \"box\"\\");
  for (const SettingsRecord& saved : cases) {
    Settings = saved;
    Settings.AutoRun = true;
    SaveSettings();
    Settings = SettingsRecord{};
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(saved)) << Describe(Settings);
  }
}

TEST_F(SettingsTest, ValuesAreStoredInTheirByteLayouts) {
  Settings.Path = "受信";
  Settings.Keyword = "";
  Settings.Item = 2;
  Settings.Opt = {0, 1, 2};
  Settings.Left = -120;
  Settings.Top = 0;
  SaveSettings();

  auto bytes = [](std::string_view text) { return Bytes(text.begin(), text.end()); };
  const struct {
    const char* name;
    std::uint32_t type;
    Bytes data;
  } cases[] = {
      {"PATH1", kRegSz, bytes("受信\0"sv)}, {"KEY1", kRegSz, {0}},
      {"ITEM1", kRegDword, {2, 0, 0, 0}},   {"OPT1", kRegDword, {0, 0, 0, 0}},
      {"OPT2", kRegDword, {1, 0, 0, 0}},    {"OPT3", kRegDword, {2, 0, 0, 0}},
      {"LEFT", kRegSz, bytes("-120\0"sv)},  {"TOP", kRegSz, bytes("0\0"sv)},
  };
  RegFileRegistry registry(File());
  RegistryKey key = 0;
  ASSERT_EQ(registry.OpenKey(RegistryRoot::LocalMachine, kSettingsKey, &key), kErrorSuccess);
  for (const auto& c : cases) {
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(registry.QueryValue(key, c.name, &type, &data), kErrorSuccess) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(data, c.data) << c.name;
  }
  registry.CloseKey(key);

  // The values follow one another in their fixed order.
  std::ifstream in(File());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t position = 0;
  for (const auto& c : cases) {
    std::size_t found = text.find("\"" + std::string(c.name) + "\"=", position);
    EXPECT_NE(found, std::string::npos) << c.name;
    position = found;
  }
}

TEST_F(SettingsTest, StoredValuesLoadIntoTheirFields) {
  const struct {
    const char* lines;
    std::function<void(SettingsRecord&)> expect;
  } cases[] = {
      {"", [](SettingsRecord&) {}},
      {"\"KEY1\"=\"invoice\"\n", [](SettingsRecord& r) { r.Keyword = "invoice"; }},
      {"\"PATH1\"=\"請求書/ｱﾄﾞﾚｽ\"\n", [](SettingsRecord& r) { r.Path = "請求書/ｱﾄﾞﾚｽ"; }},
      {"\"PATH1\"=hex(1):61,62,00,63,64\n", [](SettingsRecord& r) { r.Path = "ab"; }},
      {"\"PATH1\"=hex(1):61,62\n", [](SettingsRecord& r) { r.Path = "ab"; }},
      {"\"PATH1\"=hex:61,00\n", [](SettingsRecord& r) { r.Path = "a"; }},  // type not checked
      {"\"KEY1\"=\"\"\n", [](SettingsRecord& r) { r.Keyword = ""; }},
      // Only the first byte of a choice counts.
      {"\"OPT2\"=dword:00000001\n", [](SettingsRecord& r) { r.Opt[1] = 1; }},
      {"\"OPT2\"=dword:00000101\n", [](SettingsRecord& r) { r.Opt[1] = 1; }},
      {"\"OPT1\"=dword:00000000\n", [](SettingsRecord& r) { r.Opt[0] = 0; }},
      {"\"OPT3\"=hex(4):02\n", [](SettingsRecord& r) { r.Opt[2] = 2; }},
      {"\"ITEM1\"=hex(1):02,00\n", [](SettingsRecord& r) { r.Item = 2; }},
      {"\"ITEM1\"=dword:00000000\n", [](SettingsRecord& r) { r.Item = 0; }},
      // Choices the program never writes keep what was there.
      {"\"ITEM1\"=dword:00000003\n", [](SettingsRecord&) {}},
      {"\"OPT1\"=dword:00000080\n", [](SettingsRecord&) {}},
      {"\"OPT2\"=dword:000000ff\n", [](SettingsRecord&) {}},
      {"\"OPT3\"=hex(4):\n", [](SettingsRecord&) {}},
      // Window positions are decimal text.
      {"\"LEFT\"=\"-120\"\n", [](SettingsRecord& r) { r.Left = -120; }},
      {"\"TOP\"=\" 42 \"\n", [](SettingsRecord& r) { r.Top = 42; }},
      {"\"TOP\"=\"+7\"\n", [](SettingsRecord& r) { r.Top = 7; }},
      {"\"TOP\"=\"1.6\"\n", [](SettingsRecord& r) { r.Top = 2; }},
      {"\"TOP\"=\"-1.6\"\n", [](SettingsRecord& r) { r.Top = -2; }},
      {"\"TOP\"=\"2.5\"\n", [](SettingsRecord& r) { r.Top = 2; }},
      {"\"TOP\"=\"1e3\"\n", [](SettingsRecord& r) { r.Top = 1000; }},
      {"\"LEFT\"=\"2147483647\"\n", [](SettingsRecord& r) { r.Left = INT32_MAX; }},
      {"\"LEFT\"=\"-2147483648\"\n", [](SettingsRecord& r) { r.Left = INT32_MIN; }},
      {"\"LEFT\"=hex(1):35,00,39\n", [](SettingsRecord& r) { r.Left = 5; }},
      // Positions that are no number keep what was there.
      {"\"LEFT\"=\"\"\n", [](SettingsRecord&) {}},
      {"\"LEFT\"=\"abc\"\n", [](SettingsRecord&) {}},
      {"\"LEFT\"=\"12abc\"\n", [](SettingsRecord&) {}},
      {"\"LEFT\"=\"--1\"\n", [](SettingsRecord&) {}},
      {"\"LEFT\"=\"+-1\"\n", [](SettingsRecord&) {}},
      {"\"LEFT\"=\"0x10\"\n", [](SettingsRecord&) {}},
      {"\"LEFT\"=\"nan\"\n", [](SettingsRecord&) {}},
      {"\"LEFT\"=\"inf\"\n", [](SettingsRecord&) {}},
      {"\"TOP\"=\"2147483648\"\n", [](SettingsRecord&) {}},
      {"\"TOP\"=\"-2147483649\"\n", [](SettingsRecord&) {}},
      {"\"TOP\"=\"1e40\"\n", [](SettingsRecord&) {}},
      // One bad value does not stop the others.
      {"\"LEFT\"=\"x\"\n\"TOP\"=\"9\"\n\"OPT1\"=dword:00000009\n\"OPT2\"=dword:00000000\n",
       [](SettingsRecord& r) {
         r.Top = 9;
         r.Opt[1] = 0;
       }},
  };
  for (const auto& c : cases) {
    WriteSection(c.lines);
    Settings = Distinct("/old/path");
    SettingsRecord expected = Distinct("/old/path");
    c.expect(expected);
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(expected)) << c.lines << " -> " << Describe(Settings);
  }
}

TEST_F(SettingsTest, UnusableStoresLeaveEveryField) {
  const struct {
    const char* what;
    std::function<void(const std::filesystem::path&)> prepare;
  } cases[] = {
      {"no file", [](const std::filesystem::path&) {}},
      {"empty file",
       [](const std::filesystem::path& file) { std::ofstream(file, std::ios::binary); }},
      {"not a settings file",
       [](const std::filesystem::path& file) {
         std::ofstream(file, std::ios::binary) << std::string(
             "\x7f"
             "ELF\0\0\xff[\n\"PATH1\"",
             16);
       }},
      {"other key only",
       [](const std::filesystem::path& file) {
         std::ofstream(file, std::ios::binary)
             << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Other]\n\"KEY1\"=\"x\"\n";
       }},
      {"folder in its place",
       [](const std::filesystem::path& file) { std::filesystem::create_directory(file); }},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(File().parent_path());
    std::filesystem::create_directories(File().parent_path());
    c.prepare(File());
    const testing::Listing before = testing::ListFolder(File().parent_path());
    Settings = Distinct("/old/path");
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(Distinct("/old/path"))) << c.what;
    // Loading never moves or changes anything.
    EXPECT_EQ(testing::ListFolder(File().parent_path()), before) << c.what;
  }
}

// The README's mail section alone, as a user would paste it without the
// header line: a save once rewrote it with the main key only.
TEST_F(SettingsTest, MailSectionWithoutHeaderSurvivesSave) {
  const std::string kSnippet =
      "[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\n"
      "\"Store\"=\"imaps://me%40example.com@mail.example.com/INBOX\"\n"
      "\"Password\"=\"secret\"\n";
  std::filesystem::create_directories(File().parent_path());
  testing::WriteFile(File(), kSnippet);
  Settings = Distinct("/home/u/受信");
  SaveSettings();

  const std::string text = testing::ReadFile(File());
  EXPECT_EQ(text.rfind("REGEDIT4\n\n" + kSnippet, 0), 0u) << text;
  RegFileRegistry registry(File());
  RegistryKey key = 0;
  ASSERT_EQ(registry.OpenKey(RegistryRoot::CurrentUser, "SOFTWARE\\Vantrel\\Quillmar\\Mail", &key),
            kErrorSuccess);
  const struct {
    const char* name;
    std::string_view data;
  } mail[] = {{"Store", "imaps://me%40example.com@mail.example.com/INBOX\0"sv},
              {"Password", "secret\0"sv}};
  for (const auto& m : mail) {
    Bytes data;
    EXPECT_EQ(registry.QueryValue(key, m.name, nullptr, &data), kErrorSuccess) << m.name;
    EXPECT_EQ(data, Bytes(m.data.begin(), m.data.end())) << m.name;
  }
  registry.CloseKey(key);
  SettingsRecord saved = Distinct("/home/u/受信");
  saved.AutoRun = false;
  Settings = SettingsRecord{};
  LoadSettings();
  EXPECT_EQ(Fields(Settings), Fields(saved)) << Describe(Settings);
}

// UTF-16LE bytes of a text, as Windows writes them.
std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xff);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// Files exported by regedit or edited by hand load, and a save changes the
// eight values only: the lines around them stay in their own bytes.
TEST_F(SettingsTest, SaveKeepsTheLinesItDoesNotWrite) {
  const struct {
    const char* what;
    std::string file;
    std::string path;               // PATH1 as loaded
    std::vector<std::string> kept;  // bytes still in the file after the save
  } cases[] = {
      {"regedit export, UTF-16LE",
       "\xFF\xFE" + Utf16Le(u"Windows Registry Editor Version 5.00\r\n\r\n"
                            u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\r\n"
                            u"\"PATH1\"=\"C:\\\\受信\"\r\n"
                            u"\"Theme\"=\"dark\"\r\n\r\n"
                            u"[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\r\n"
                            u"\"Store\"=\"maildir:/m\"\r\n"),
       "C:\\受信",
       {"\xFF\xFE" + Utf16Le(u"Windows Registry Editor Version 5.00\r\n\r\n"
                             u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\r\n"),
        Utf16Le(u"\"Theme\"=\"dark\"\r\n"), Utf16Le(u"\"PATH1\"=\"/new/受信\"\r\n"),
        Utf16Le(u"\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\r\n"
                u"\"Store\"=\"maildir:/m\"\r\n")}},
      {"hand-edited, CRLF, comments and values of another program",
       "REGEDIT4\r\n; keep me\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\r\n"
       "\"PATH1\"=\"/old\" ; typed by hand\r\n\"LEFT\"=\"12\"\r\n\"X-Other\"=hex:01,\\\r\n  02\r\n"
       "; trailing note without a line break",
       "/old",
       {"REGEDIT4\r\n; keep me\r\n", "\"X-Other\"=hex:01,\\\r\n  02\r\n",
        "\"PATH1\"=\"/new/受信\"\r\n", "\r\n; trailing note without a line break"}},
      {"UTF-8 with a byte-order mark",
       "\xEF\xBB\xBFREGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n"
       "\"PATH1\"=\"/ü\"\n",
       "/ü",
       {"\xEF\xBB\xBFREGEDIT4\n\n", "\"PATH1\"=\"/new/受信\"\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::create_directories(File().parent_path());
    testing::WriteFile(File(), c.file);
    Settings = SettingsRecord{};
    LoadSettings();
    EXPECT_EQ(Settings.Path, c.path);

    Settings.Path = "/new/受信";
    SaveSettings();
    const std::string bytes = testing::ReadFile(File());
    for (const std::string& kept : c.kept) EXPECT_NE(bytes.find(kept), std::string::npos) << kept;
    Settings = SettingsRecord{};
    LoadSettings();
    EXPECT_EQ(Settings.Path, "/new/受信");
  }
}

TEST_F(SettingsTest, SaveWhereNoFileCanBeWrittenIsSilent) {
  std::ofstream(dir_.path() / "blocker") << "a file, not a folder";
  ::setenv("XDG_CONFIG_HOME", (dir_.path() / "blocker").c_str(), 1);
  Settings = Distinct("/old/path");
  SaveSettings();
  LoadSettings();
  EXPECT_EQ(Fields(Settings), Fields(Distinct("/old/path")));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_.path() / "blocker"));
}

// The settings file's registry, except that the machine-wide root may refuse
// to be written, as Windows refuses a user who is not an administrator.
class MachineMayRefuse : public RegFileRegistry {
 public:
  MachineMayRefuse(const std::filesystem::path& file, bool refuse)
      : RegFileRegistry(file), refuse_(refuse) {}
  long CreateKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) override {
    if (refuse_ && root == RegistryRoot::LocalMachine) return kErrorAccessDenied;
    return RegFileRegistry::CreateKey(root, sub_key, key);
  }

 private:
  bool refuse_;
};

bool HasSettings(const std::filesystem::path& file, RegistryRoot root) {
  RegFileRegistry registry(file);
  const OpenedKey key(registry, root, kSettingsKey, OpenedKey::Access::kRead);
  return key.Query("PATH1").has_value();
}

TEST_F(SettingsTest, SettingsGoWhereTheUserMayWriteAndAreReadFromThere) {
  struct Case {
    const char* what;
    bool machine_refuses;
    bool own_key_before;  // saved once where the machine refused
    bool mail_profile;    // the user's key holds a mail profile, no settings
    RegistryRoot expected;
  };
  const Case cases[] = {
      {"machine key writable", false, false, false, RegistryRoot::LocalMachine},
      {"machine key refused", true, false, false, RegistryRoot::CurrentUser},
      {"own key kept once made", false, true, false, RegistryRoot::CurrentUser},
      {"a mail profile is no settings", false, false, true, RegistryRoot::LocalMachine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(File());
    if (c.mail_profile) {
      // As in Windows' registry, the profile's parent key exists, empty.
      RegFileRegistry registry(File());
      ASSERT_TRUE(
          OpenedKey(registry, RegistryRoot::CurrentUser, kSettingsKey, OpenedKey::Access::kCreate)
              .is_open());
      OpenedKey mail(registry, RegistryRoot::CurrentUser, "SOFTWARE\\Vantrel\\Quillmar\\Mail",
                     OpenedKey::Access::kCreate);
      ASSERT_EQ(mail.Set("Store", kRegSz, {'s', 0}), 0);
    }
    if (c.own_key_before) {
      MachineMayRefuse refusing(File(), true);
      Settings = Distinct("/older");
      SaveSettings(refusing);
    }
    {
      MachineMayRefuse registry(File(), c.machine_refuses);
      Settings = Distinct("/home/u/受信");
      SaveSettings(registry);
    }
    const bool machine_written = c.expected == RegistryRoot::LocalMachine;
    EXPECT_EQ(HasSettings(File(), RegistryRoot::LocalMachine), machine_written);
    EXPECT_EQ(HasSettings(File(), RegistryRoot::CurrentUser), !machine_written);
    const SettingsRecord saved = Distinct("/home/u/受信");
    Settings = SettingsRecord{};
    Settings.AutoRun = saved.AutoRun;  // the command line's, never stored
    MachineMayRefuse registry(File(), c.machine_refuses);
    LoadSettings(registry);
    EXPECT_EQ(Fields(Settings), Fields(saved));
  }
}

}  // namespace
}  // namespace qm
