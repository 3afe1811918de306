#include "settings/Win32Registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "settings/AnsiText.h"
#include "settings/Settings.h"
#include "tests/settings/SettingsCases.h"
#include "tests/support/CiSkip.h"

namespace qm {
namespace {

using testing::Describe;
using testing::Distinct;
using testing::Fields;
using testing::RoundTripCases;

using namespace std::string_view_literals;

// Cases on the registry class itself use a key of their own.
constexpr char kScratchKey[] = "SOFTWARE\\Vantrel\\QuillmarTest";
constexpr char kVendorKey[] = "SOFTWARE\\Vantrel";

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Dword(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// "x" repeated, closed by a NUL: `length` bytes in all.
Bytes TextOfLength(std::size_t length) {
  Bytes data(length, 'x');
  data.back() = 0;
  return data;
}

// One value as the registry holds it.
struct RawValue {
  std::string name;
  DWORD type = 0;
  Bytes data;
  bool operator==(const RawValue&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RawValue& value) {
  out << value.name << " type " << value.type << " [";
  for (std::uint8_t byte : value.data) out << ' ' << static_cast<int>(byte);
  return out << " ]";
}

// A key opened with the plain API, apart from the code under test, and closed
// at the end of its scope.
class RawKey {
 public:
  static RawKey Create(HKEY root, const char* path, DWORD options = REG_OPTION_NON_VOLATILE) {
    HKEY handle = nullptr;
    RegCreateKeyExA(root, path, 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
    return RawKey(handle);
  }
  static RawKey Open(HKEY root, const char* path) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &handle) != ERROR_SUCCESS) handle = nullptr;
    return RawKey(handle);
  }
  RawKey(RawKey&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  RawKey& operator=(RawKey&&) = delete;
  ~RawKey() {
    if (handle_ != nullptr) RegCloseKey(handle_);
  }

  explicit operator bool() const { return handle_ != nullptr; }

  void Set(const RawValue& value) const {
    ASSERT_EQ(RegSetValueExA(handle_, value.name.c_str(), 0, value.type, value.data.data(),
                             static_cast<DWORD>(value.data.size())),
              ERROR_SUCCESS)
        << value.name;
  }

  // Read in one call into a buffer larger than anything the cases store.
  std::optional<RawValue> Query(const std::string& name) const {
    RawValue value{name, 0, Bytes(1 << 16)};
    DWORD size = static_cast<DWORD>(value.data.size());
    if (RegQueryValueExA(handle_, name.c_str(), nullptr, &value.type, value.data.data(), &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    value.data.resize(size);
    return value;
  }

  // Every value, in the registry's own order.
  std::vector<RawValue> All() const {
    std::vector<RawValue> values;
    for (DWORD index = 0;; ++index) {
      char name[16384];
      DWORD name_size = sizeof name;
      RawValue value{"", 0, Bytes(1 << 16)};
      DWORD size = static_cast<DWORD>(value.data.size());
      if (RegEnumValueA(handle_, index, name, &name_size, nullptr, &value.type, value.data.data(),
                        &size) != ERROR_SUCCESS) {
        return values;
      }
      value.name.assign(name, name_size);
      value.data.resize(size);
      values.push_back(value);
    }
  }

 private:
  explicit RawKey(HKEY handle) : handle_(handle) {}
  HKEY handle_ = nullptr;
};

bool KeyExists(HKEY root, const char* path) { return static_cast<bool>(RawKey::Open(root, path)); }

// Removes the key with everything under it, and the vendor key when that is left
// empty (deleting a key that still has sub-keys fails, which keeps others' keys).
void DeleteKey(HKEY root, const char* path) {
  RegDeleteTreeA(root, path);
  RegDeleteKeyA(root, path);
  RegDeleteKeyA(root, kVendorKey);
}

// ---------------------------------------------------------------------------
// The code page that every Japanese case below depends on. Under a code page
// such as 1252 the CP932 bytes would still pass through unchanged, so the cases
// would prove nothing about Japanese text without this one.

TEST(Win32CodePageTest, AnsiCodePageIsJapanese) {
  EXPECT_EQ(GetACP(), 932u) << "run under a Japanese system locale (Wine: LC_ALL=ja_JP.UTF-8)";
}

TEST(Win32AnsiTextTest, Utf8IntoTheCodePage) {
  const struct {
    std::string utf8;
    std::string ansi;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"請求書", "\x90\xbf\x8b\x81\x8f\x91"},
      {"ｱﾄﾞﾚｽ", "\xb1\xc4\xde\xda\xbd"},
      {"C:\\表\\ソフト", "C:\\\x95\x5c\\\x83\x5c\x83\x74\x83\x67"},  // second bytes 0x5C
      {"a€b", "a?b"},                                                // not in the code page
      {"café", "caf?"},  // no look-alike: that would name another folder
      {"a\xff"
       "b",
       "a?b"},  // not UTF-8 at all
  };
  for (const auto& c : cases) EXPECT_EQ(ToAnsi(c.utf8), c.ansi) << c.utf8;
}

TEST(Win32AnsiTextTest, CodePageIntoUtf8) {
  const struct {
    std::string ansi;
    std::string utf8;
  } cases[] = {
      {"", ""},
      {"\x90\xbf\x8b\x81\x8f\x91", "請求書"},
      {"\xb1\xc4\xde\xda\xbd", "ｱﾄﾞﾚｽ"},
      {"C:\\\x95\x5c\\\x83\x5c\x83\x74\x83\x67", "C:\\表\\ソフト"},
      {"\x5c\x95", "\\?"},  // a lead byte without its second byte
      {"ab\x90", "ab?"},
  };
  for (const auto& c : cases) EXPECT_EQ(FromAnsi(c.ansi), c.utf8) << c.utf8;
}

// ---------------------------------------------------------------------------
// The registry class on a scratch key of the current user.

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    DeleteKey(HKEY_CURRENT_USER, kScratchKey);
    DeleteKey(HKEY_LOCAL_MACHINE, kScratchKey);
  }

  Win32Registry registry_;
};

// Values of every length come back whole, with their type, however large.
const RawValue kStoredValues[] = {
    {"EMPTY", REG_BINARY, {}},
    {"NUL", REG_SZ, {0}},
    {"JAPANESE", REG_SZ, B("C:\\\x95\x5c\\\x83\x5c\0"sv)},
    {"FITS", REG_SZ, TextOfLength(300)},
    {"ONE_MORE", REG_SZ, TextOfLength(301)},
    {"LONG", REG_SZ, TextOfLength(5000)},
    {"BINARY", REG_BINARY, B("\0\x01\xff\0\x5c"sv)},
    {"NUMBER", REG_DWORD, Dword(257)},
};

TEST_F(Win32RegistryTest, ValuesAreReadWhole) {
  {
    RawKey raw = RawKey::Create(HKEY_CURRENT_USER, kScratchKey);
    for (const RawValue& value : kStoredValues) raw.Set(value);
  }
  RegistryKey key = 0;
  ASSERT_EQ(registry_.OpenKey(RegistryRoot::CurrentUser, kScratchKey, &key), kErrorSuccess);
  for (const RawValue& stored : kStoredValues) {
    RawValue read{stored.name, 0, {}};
    std::uint32_t type = 0;
    EXPECT_EQ(registry_.QueryValue(key, stored.name, &type, &read.data), kErrorSuccess);
    read.type = type;
    EXPECT_EQ(read, stored);
  }
  EXPECT_EQ(registry_.CloseKey(key), kErrorSuccess);
}

TEST_F(Win32RegistryTest, WrittenValuesAreWhatTheRegistryHolds) {
  RegistryKey key = 0;
  ASSERT_EQ(registry_.CreateKey(RegistryRoot::CurrentUser, kScratchKey, &key), kErrorSuccess);
  for (const RawValue& value : kStoredValues) {
    EXPECT_EQ(registry_.SetValue(key, value.name, value.type, value.data), kErrorSuccess);
  }
  EXPECT_EQ(registry_.CloseKey(key), kErrorSuccess);

  RawKey raw = RawKey::Open(HKEY_CURRENT_USER, kScratchKey);
  ASSERT_TRUE(raw);
  for (const RawValue& value : kStoredValues) EXPECT_EQ(raw.Query(value.name), value);
}

TEST_F(Win32RegistryTest, ADeletedValueIsGoneAndTheOthersStay) {
  {
    RawKey raw = RawKey::Create(HKEY_CURRENT_USER, kScratchKey);
    for (const RawValue& value : kStoredValues) raw.Set(value);
  }
  RegistryKey key = 0;
  ASSERT_EQ(registry_.CreateKey(RegistryRoot::CurrentUser, kScratchKey, &key), kErrorSuccess);
  EXPECT_EQ(registry_.DeleteValue(key, "japanese"), kErrorSuccess);  // names ignore case
  EXPECT_EQ(registry_.DeleteValue(key, "JAPANESE"), kErrorFileNotFound);
  EXPECT_EQ(registry_.CloseKey(key), kErrorSuccess);
  RawKey raw = RawKey::Open(HKEY_CURRENT_USER, kScratchKey);
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw.All().size(), std::size(kStoredValues) - 1);
  EXPECT_EQ(raw.Query("LONG"), kStoredValues[5]);
}

TEST_F(Win32RegistryTest, CreatingAnExistingKeyKeepsItsValues) {
  RawKey::Create(HKEY_CURRENT_USER, kScratchKey).Set({"KEEP", REG_SZ, B("x\0"sv)});
  RegistryKey key = 0;
  ASSERT_EQ(registry_.CreateKey(RegistryRoot::CurrentUser, kScratchKey, &key), kErrorSuccess);
  Bytes data;
  std::uint32_t type = 0;
  EXPECT_EQ(registry_.QueryValue(key, "KEEP", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, B("x\0"sv));
  registry_.CloseKey(key);
}

// The key is opened for writing with no more rights than querying and setting
// values: asking for more can be refused where these would be granted.
TEST_F(Win32RegistryTest, CreatedKeyAllowsQueryingAndSettingOnly) {
  RegistryKey key = 0;
  ASSERT_EQ(registry_.CreateKey(RegistryRoot::CurrentUser, kScratchKey, &key), kErrorSuccess);
  HKEY handle = reinterpret_cast<HKEY>(key);
  char name[64];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(handle, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  registry_.CloseKey(key);
}

TEST_F(Win32RegistryTest, MissingKeysAndValuesAreReported) {
  RegistryKey key = 0;
  EXPECT_EQ(registry_.OpenKey(RegistryRoot::CurrentUser, kScratchKey, &key), kErrorFileNotFound);
  EXPECT_EQ(key, 0u);

  RawKey::Create(HKEY_CURRENT_USER, kScratchKey);
  ASSERT_EQ(registry_.OpenKey(RegistryRoot::CurrentUser, kScratchKey, &key), kErrorSuccess);
  Bytes data{1, 2};
  std::uint32_t type = 7;
  EXPECT_EQ(registry_.QueryValue(key, "ABSENT", &type, &data), kErrorFileNotFound);
  EXPECT_EQ(data, (Bytes{1, 2}));
  EXPECT_EQ(type, 7u);
  registry_.CloseKey(key);
}

TEST_F(Win32RegistryTest, EachRootIsItsOwnTree) {
  const struct {
    RegistryRoot root;
    HKEY written;
    HKEY other;
  } cases[] = {
      {RegistryRoot::CurrentUser, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE},
      {RegistryRoot::LocalMachine, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
  };
  for (const auto& c : cases) {
    TearDown();
    RegistryKey key = 0;
    ASSERT_EQ(registry_.CreateKey(c.root, kScratchKey, &key), kErrorSuccess);
    registry_.CloseKey(key);
    EXPECT_TRUE(KeyExists(c.written, kScratchKey));
    EXPECT_FALSE(KeyExists(c.other, kScratchKey));
  }
}

// ---------------------------------------------------------------------------
// The settings store on the machine's settings key. Each case starts without the
// key; whatever the machine held there is put back at the end.

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RawKey key = RawKey::Open(HKEY_LOCAL_MACHINE, kSettingsKey)) saved_ = key.All();
    DeleteKey(HKEY_LOCAL_MACHINE, kSettingsKey);
    Settings = SettingsRecord{};
  }
  void TearDown() override {
    DeleteKey(HKEY_LOCAL_MACHINE, kSettingsKey);
    DeleteKey(HKEY_CURRENT_USER, kSettingsKey);
    if (saved_) {
      RawKey key = RawKey::Create(HKEY_LOCAL_MACHINE, kSettingsKey);
      for (const RawValue& value : *saved_) key.Set(value);
    }
    Settings = SettingsRecord{};
  }

  static void Store(const std::vector<RawValue>& values) {
    DeleteKey(HKEY_LOCAL_MACHINE, kSettingsKey);
    RawKey key = RawKey::Create(HKEY_LOCAL_MACHINE, kSettingsKey);
    for (const RawValue& value : values) key.Set(value);
  }

  std::optional<std::vector<RawValue>> saved_;
};

// The real registry, with a note of every value written through it.
class RecordingRegistry : public Win32Registry {
 public:
  long SetValue(RegistryKey key, const std::string& name, std::uint32_t type,
                const Bytes& data) override {
    written.push_back({name, type, data});
    return Win32Registry::SetValue(key, name, type, data);
  }

  std::vector<RawValue> written;
};

TEST_F(SettingsStoreTest, SaveWritesTheEightValuesInTheirLayouts) {
  Settings.Path = "C:\\表\\ソフト";
  Settings.Keyword = "";
  Settings.Item = 2;
  Settings.Opt = {0, 1, 2};
  Settings.Left = -120;
  Settings.Top = 0;
  RecordingRegistry recorder;
  SaveSettings(recorder);

  const std::vector<RawValue> expected = {
      {"PATH1", REG_SZ, B("C:\\\x95\x5c\\\x83\x5c\x83\x74\x83\x67\0"sv)},
      {"KEY1", REG_SZ, {0}},  // the NUL is counted even when nothing precedes it
      {"ITEM1", REG_DWORD, {2, 0, 0, 0}},
      {"OPT1", REG_DWORD, {0, 0, 0, 0}},
      {"OPT2", REG_DWORD, {1, 0, 0, 0}},
      {"OPT3", REG_DWORD, {2, 0, 0, 0}},
      {"LEFT", REG_SZ, B("-120\0"sv)},
      {"TOP", REG_SZ, B("0\0"sv)},
  };
  EXPECT_EQ(recorder.written, expected);  // the order of the writes

  // Exactly these, as the registry holds them (it may list them in its own order).
  RawKey key = RawKey::Open(HKEY_LOCAL_MACHINE, kSettingsKey);
  ASSERT_TRUE(key);
  for (const RawValue& value : expected) EXPECT_EQ(key.Query(value.name), value);
  EXPECT_EQ(key.All().size(), expected.size());

  // Stored as Japanese text, not as bytes that merely come back unchanged.
  wchar_t path[64] = {};
  DWORD size = sizeof path;
  HKEY wide_key = nullptr;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vantrel\\Quillmar", 0, KEY_READ, &wide_key),
      ERROR_SUCCESS);
  EXPECT_EQ(
      RegQueryValueExW(wide_key, L"PATH1", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size),
      ERROR_SUCCESS);
  RegCloseKey(wide_key);
  EXPECT_EQ(std::wstring(path), L"C:\\表\\ソフト");
}

TEST_F(SettingsStoreTest, SavedSettingsLoadBackUnchanged) {
  const std::vector<SettingsRecord> cases = RoundTripCases("D:\\受信\\表ソ", "C:\\");
  for (const SettingsRecord& saved : cases) {
    Settings = saved;
    Settings.AutoRun = true;  // never stored
    SaveSettings();
    Settings = SettingsRecord{};
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(saved)) << Describe(Settings);
  }
}

TEST_F(SettingsStoreTest, StoredValuesLoadIntoTheirFields) {
  const struct {
    std::vector<RawValue> stored;
    std::function<void(SettingsRecord&)> expect;
  } cases[] = {
      {{}, [](SettingsRecord&) {}},
      {{{"KEY1", REG_SZ, B("invoice\0"sv)}}, [](SettingsRecord& r) { r.Keyword = "invoice"; }},
      {{{"PATH1", REG_SZ, B("C:\\\x95\x5c\\\x83\x5c\0"sv)}},
       [](SettingsRecord& r) { r.Path = "C:\\表\\ソ"; }},
      {{{"PATH1", REG_SZ, B("ab\0cd\0"sv)}}, [](SettingsRecord& r) { r.Path = "ab"; }},
      {{{"PATH1", REG_BINARY, B("a\0"sv)}}, [](SettingsRecord& r) { r.Path = "a"; }},
      {{{"KEY1", REG_SZ, {0}}}, [](SettingsRecord& r) { r.Keyword = ""; }},
      {{{"PATH1", REG_SZ, TextOfLength(301)}},
       [](SettingsRecord& r) { r.Path = std::string(300, 'x'); }},
      // Only the first byte of a choice counts.
      {{{"OPT2", REG_DWORD, Dword(1)}}, [](SettingsRecord& r) { r.Opt[1] = 1; }},
      {{{"OPT2", REG_DWORD, Dword(257)}}, [](SettingsRecord& r) { r.Opt[1] = 1; }},
      {{{"OPT1", REG_DWORD, Dword(0)}}, [](SettingsRecord& r) { r.Opt[0] = 0; }},
      {{{"OPT3", REG_BINARY, {2}}}, [](SettingsRecord& r) { r.Opt[2] = 2; }},
      {{{"ITEM1", REG_SZ, {2, 0}}}, [](SettingsRecord& r) { r.Item = 2; }},
      // Choices the program never writes keep what was there.
      {{{"ITEM1", REG_DWORD, Dword(3)}}, [](SettingsRecord&) {}},
      {{{"OPT1", REG_DWORD, Dword(0x80)}}, [](SettingsRecord&) {}},
      {{{"OPT3", REG_BINARY, {}}}, [](SettingsRecord&) {}},
      // Window positions are decimal text.
      {{{"LEFT", REG_SZ, B("-120\0"sv)}}, [](SettingsRecord& r) { r.Left = -120; }},
      {{{"TOP", REG_SZ, B("1.6\0"sv)}}, [](SettingsRecord& r) { r.Top = 2; }},
      {{{"LEFT", REG_SZ, B("2147483647\0"sv)}}, [](SettingsRecord& r) { r.Left = INT32_MAX; }},
      {{{"LEFT", REG_SZ, B("abc\0"sv)}}, [](SettingsRecord&) {}},
      {{{"TOP", REG_SZ, B("2147483648\0"sv)}}, [](SettingsRecord&) {}},
      // A missing or unusable value does not stop the others.
      {{{"LEFT", REG_SZ, B("x\0"sv)},
        {"TOP", REG_SZ, B("9\0"sv)},
        {"OPT1", REG_DWORD, Dword(9)},
        {"OPT2", REG_DWORD, Dword(0)}},
       [](SettingsRecord& r) {
         r.Top = 9;
         r.Opt[1] = 0;
       }},
  };
  for (const auto& c : cases) {
    Store(c.stored);
    Settings = Distinct("C:\\old");
    SettingsRecord expected = Distinct("C:\\old");
    c.expect(expected);
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(expected))
        << (c.stored.empty() ? "(none)" : c.stored.front().name) << " -> " << Describe(Settings);
  }
}

TEST_F(SettingsStoreTest, WithoutTheKeyEveryFieldStays) {
  const struct {
    const char* what;
    std::function<void()> prepare;
  } cases[] = {
      {"no key", [] {}},
      {"key without values", [] { RawKey::Create(HKEY_LOCAL_MACHINE, kSettingsKey); }},
      {"another key of the vendor's",
       [] {
         RawKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vantrel\\Other")
             .Set({"KEY1", REG_SZ, B("x\0"sv)});
       }},
  };
  for (const auto& c : cases) {
    DeleteKey(HKEY_LOCAL_MACHINE, kSettingsKey);
    DeleteKey(HKEY_CURRENT_USER, kSettingsKey);
    c.prepare();
    Settings = Distinct("C:\\old");
    LoadSettings();
    EXPECT_EQ(Fields(Settings), Fields(Distinct("C:\\old"))) << c.what;
    DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vantrel\\Other");
  }
}

// A user who may not write the machine's key keeps the settings under the
// same key of their own; once that exists, it is the one read, over the
// machine's.
TEST_F(SettingsStoreTest, TheUsersOwnKeyIsReadOverTheMachines) {
  DeleteKey(HKEY_LOCAL_MACHINE, kSettingsKey);
  DeleteKey(HKEY_CURRENT_USER, kSettingsKey);
  RawKey::Create(HKEY_LOCAL_MACHINE, kSettingsKey).Set({"KEY1", REG_SZ, B("machine\0"sv)});
  RawKey::Create(HKEY_CURRENT_USER, kSettingsKey).Set({"KEY1", REG_SZ, B("own\0"sv)});
  Settings = Distinct("C:\\old");
  LoadSettings();
  EXPECT_EQ(Settings.Keyword, "own");
  Settings.Keyword = "new";
  SaveSettings();
  EXPECT_EQ(RawKey::Open(HKEY_LOCAL_MACHINE, kSettingsKey).Query("KEY1")->data, B("machine\0"sv));
  EXPECT_EQ(RawKey::Open(HKEY_CURRENT_USER, kSettingsKey).Query("KEY1")->data, B("new\0"sv));
  DeleteKey(HKEY_CURRENT_USER, kSettingsKey);
  DeleteKey(HKEY_LOCAL_MACHINE, kSettingsKey);
}

// A key that cannot be created: its parent is volatile, and a lasting key
// cannot live under a volatile one. The save writes nothing and says nothing.
TEST_F(SettingsStoreTest, SaveWhereTheKeyCannotBeCreatedIsSilent) {
  if (KeyExists(HKEY_LOCAL_MACHINE, kVendorKey)) {
    QM_SKIP_OUTSIDE_CI("the vendor key exists already; this case needs to create it");
  }
  ASSERT_TRUE(RawKey::Create(HKEY_LOCAL_MACHINE, kVendorKey, REG_OPTION_VOLATILE));
  Settings = Distinct("C:\\old");
  SaveSettings();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
  EXPECT_EQ(Fields(Settings), Fields(Distinct("C:\\old")));
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kVendorKey);
}

}  // namespace
}  // namespace qm
