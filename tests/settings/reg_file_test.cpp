#include "settings/RegFileRegistry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "base/ReadRegularFile.h"
#include "settings/RegFileStorage.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using testing::ReadFile;
using testing::TempDir;
using namespace std::string_view_literals;

constexpr char kKey[] = "SOFTWARE\\Vantrel\\Quillmar";
constexpr char kMailKey[] = "SOFTWARE\\Vantrel\\Quillmar\\Mail";

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

struct Stored {
  long result = -1;
  std::uint32_t type = 0;
  Bytes data;
};

Stored Query(const std::filesystem::path& file, RegistryRoot root, const std::string& key_name,
             const std::string& name) {
  RegFileRegistry registry(file);
  Stored stored;
  RegistryKey key = 0;
  stored.result = registry.OpenKey(root, key_name, &key);
  if (stored.result != kErrorSuccess) return stored;
  stored.result = registry.QueryValue(key, name, &stored.type, &stored.data);
  registry.CloseKey(key);
  return stored;
}

long Store(const std::filesystem::path& file, RegistryRoot root, const std::string& key_name,
           const std::string& name, std::uint32_t type, const Bytes& data) {
  RegFileRegistry registry(file);
  RegistryKey key = 0;
  long result = registry.CreateKey(root, key_name, &key);
  if (result != kErrorSuccess) return result;
  registry.SetValue(key, name, type, data);
  return registry.CloseKey(key);
}

TEST(RegFileTest, EachValueFormRoundTripsThroughTheFile) {
  const struct {
    std::string name;
    std::uint32_t type;
    Bytes data;
    std::string line;
  } cases[] = {
      {"PATH1", kRegSz, B("abc\0"sv), "\"PATH1\"=\"abc\"\n"},
      {"PATH1", kRegSz, B("C:\\in \"box\"\0"sv), "\"PATH1\"=\"C:\\\\in \\\"box\\\"\"\n"},
      {"KEY1", kRegSz, B("\0"sv), "\"KEY1\"=\"\"\n"},
      {"KEY1", kRegSz, B("請求書/ｱﾄﾞﾚｽ\0"sv), "\"KEY1\"=\"請求書/ｱﾄﾞﾚｽ\"\n"},
      {"KEY1", kRegSz, B("ab"), "\"KEY1\"=hex(1):61,62\n"},
      {"KEY1", kRegSz, {}, "\"KEY1\"=hex(1):\n"},
      {"KEY1", kRegSz, B("a\0b\0"sv), "\"KEY1\"=hex(1):61,00,62,00\n"},
      {"KEY1", kRegSz, B("a\nb\0"sv), "\"KEY1\"=hex(1):61,0a,62,00\n"},
      {"KEY1", kRegSz, B("a\r\0"sv), "\"KEY1\"=hex(1):61,0d,00\n"},
      {"KEY1", kRegSz,
       B("a\x1b"
         "b\0"sv),
       "\"KEY1\"=hex(1):61,1b,62,00\n"},
      {"KEY1", kRegSz, B("a\tb\0"sv), "\"KEY1\"=\"a\tb\"\n"},
      {"KEY1", kRegSz, B("a\0\0"sv), "\"KEY1\"=hex(1):61,00,00\n"},
      {"OPT2", kRegDword, {1, 1, 0, 0}, "\"OPT2\"=dword:00000101\n"},
      {"OPT2", kRegDword, {0xff, 0xee, 0xdd, 0xcc}, "\"OPT2\"=dword:ccddeeff\n"},
      {"OPT2", kRegDword, {1, 2, 3}, "\"OPT2\"=hex(4):01,02,03\n"},
      {"BIN", kRegBinary, {0xde, 0xad}, "\"BIN\"=hex:de,ad\n"},
      {"MULTI", 7, B("a\0\0"sv), "\"MULTI\"=hex(7):61,00,00\n"},
      {"QWORD", 11, {1, 0, 0, 0, 0, 0, 0, 0}, "\"QWORD\"=hex(b):01,00,00,00,00,00,00,00\n"},
      {"we\"ird\\name", kRegSz, B("x\0"sv), "\"we\\\"ird\\\\name\"=\"x\"\n"},
      {"", kRegSz, B("x\0"sv), "@=\"x\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TempDir dir;
    std::filesystem::path file = dir / "s.reg";
    ASSERT_EQ(Store(file, RegistryRoot::LocalMachine, kKey, c.name, c.type, c.data), kErrorSuccess);
    std::string text = ReadFile(file);
    EXPECT_EQ(text.rfind("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n", 0), 0u);
    EXPECT_NE(text.find(c.line), std::string::npos) << text;
    Stored stored = Query(file, RegistryRoot::LocalMachine, kKey, c.name);
    EXPECT_EQ(stored.result, kErrorSuccess);
    EXPECT_EQ(stored.type, c.type);
    EXPECT_EQ(stored.data, c.data);
  }
}

TEST(RegFileTest, LongHexListsAreWrappedWithContinuations) {
  TempDir dir;
  std::filesystem::path file = dir / "s.reg";
  Bytes data(200, 0x5c);
  ASSERT_EQ(Store(file, RegistryRoot::CurrentUser, kKey, "BIG", kRegBinary, data), 0);
  std::string text = ReadFile(file);
  EXPECT_NE(text.find(",\\\n  5c,"), std::string::npos);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  EXPECT_EQ(Query(file, RegistryRoot::CurrentUser, kKey, "BIG").data, data);
}

TEST(RegFileTest, ReadsTheFormsWrittenByHandAndByOtherTools) {
  const std::string kLm = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]";
  const struct {
    std::string file;
    std::string name;
    long result;
    std::uint32_t type;
    Bytes data;
  } cases[] = {
      {"REGEDIT4\r\n\r\n" + kLm + "\r\n\"A\"=\"x\"\r\n", "A", 0, kRegSz, B("x\0"sv)},
      {"\xEF\xBB\xBFREGEDIT4\n\n" + kLm + "\n\"A\"=\"x\"\n", "A", 0, kRegSz, B("x\0"sv)},
      {"REGEDIT4\n; note\n" + kLm + "\n; \"A\"=\"no\"\n\"A\"=\"x\" ; why\n", "A", 0, kRegSz,
       B("x\0"sv)},
      {"REGEDIT4\n" + kLm + "\n\"A\"=hex:01,02,\\\n  03,\\\r\n  04\n\"B\"=\"y\"\n",
       "A",
       0,
       kRegBinary,
       {1, 2, 3, 4}},
      {"REGEDIT4\n" + kLm + "\n\"A\"=hex:01,02,\\\n  03\n\"B\"=\"y\"\n", "B", 0, kRegSz,
       B("y\0"sv)},
      {"REGEDIT4\n[hkey_local_machine\\software\\VANTREL\\quillmar]\n\"path1\"=\"x\"\n", "PATH1", 0,
       kRegSz, B("x\0"sv)},
      {"REGEDIT4\n" + kLm + "\n\"A\" = dword:0000ABCD\n", "A", 0, kRegDword, {0xcd, 0xab, 0, 0}},
      {"REGEDIT4\n" + kLm + "\n\"A\"=dword:1\n", "A", 0, kRegDword, {1, 0, 0, 0}},
      {"REGEDIT4\n" + kLm + "\n\"A\"=hex(1):41,42,00\n", "A", 0, kRegSz, B("AB\0"sv)},
      {"REGEDIT4\n" + kLm + "\n\"A\"=\"1\"\n\"A\"=\"2\"\n", "A", 0, kRegSz, B("2\0"sv)},
      {"REGEDIT4\n" + kLm + "\n\"A\"=\"a\\\\b\\\"c\"\n", "A", 0, kRegSz, B("a\\b\"c\0"sv)},
      // Damaged lines are skipped; the lines after them still count.
      {"REGEDIT4\n" + kLm + "\n\"A\"=\"open\n\"B\"=\"y\"\n", "B", 0, kRegSz, B("y\0"sv)},
      {"REGEDIT4\n" + kLm + "\n\"A\"=\"open\n", "A", kErrorFileNotFound, 0, {}},
      {"REGEDIT4\n" + kLm + "\n\"A\"=dword:123456789\n", "A", kErrorFileNotFound, 0, {}},
      {"REGEDIT4\n" + kLm + "\n\"A\"=hex:1g\n", "A", kErrorFileNotFound, 0, {}},
      {"REGEDIT4\n" + kLm + "\n\"A\"=hex:01,,02\n", "A", kErrorFileNotFound, 0, {}},
      {"REGEDIT4\n" + kLm + "\n\"A\"=hex(zz):01\n", "A", kErrorFileNotFound, 0, {}},
      {"REGEDIT4\n" + kLm + "\n\"A\"=\"x\" trailing\n", "A", kErrorFileNotFound, 0, {}},
      {"REGEDIT4\n" + kLm + "\nA=\"x\"\n", "A", kErrorFileNotFound, 0, {}},
      {"REGEDIT4\n" + kLm + "\n[broken\n\"A\"=\"x\"\n", "A", kErrorFileNotFound, 0, {}},
      {"REGEDIT4\n\"A\"=\"x\"\n", "A", kErrorFileNotFound, 0, {}},
      {"REGEDIT4\n" + kLm + "\n", "A", kErrorFileNotFound, 0, {}},
      // Without the header line, or with the one of version 5, values read all the same.
      {kLm + "\n\"A\"=\"x\"\n", "A", 0, kRegSz, B("x\0"sv)},
      {"\n; settings\n" + kLm + "\n\"A\"=\"x\"\n", "A", 0, kRegSz, B("x\0"sv)},
      {"Windows Registry Editor Version 5.00\n" + kLm + "\n\"A\"=\"x\"\n", "A", 0, kRegSz,
       B("x\0"sv)},
      {"", "A", kErrorFileNotFound, 0, {}},
      // A file that is no text holds no keys.
      {std::string("\0\xff\xfe garbage\n\n[", 14), "A", kErrorFileNotFound, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    std::filesystem::path file = dir / "s.reg";
    WriteText(file, c.file);
    Stored stored = Query(file, RegistryRoot::LocalMachine, kKey, c.name);
    EXPECT_EQ(stored.result, c.result);
    EXPECT_EQ(stored.type, c.type);
    EXPECT_EQ(stored.data, c.data);
  }
}

TEST(RegFileTest, OpeningAMissingKeyReportsNotFound) {
  TempDir dir;
  const struct {
    std::filesystem::path file;
    RegistryRoot root;
    std::string key;
  } cases[] = {
      {dir / "none.reg", RegistryRoot::LocalMachine, kKey},
      {dir / "folder", RegistryRoot::LocalMachine, kKey},  // a folder, not a file
      {dir / "present.reg" / "below", RegistryRoot::LocalMachine, kKey},
      {dir / "present.reg", RegistryRoot::CurrentUser, kKey},  // other root
      {dir / "present.reg", RegistryRoot::LocalMachine, "SOFTWARE\\Vantrel"},
      {dir / "present.reg", RegistryRoot::LocalMachine, kMailKey},
  };
  std::filesystem::create_directory(dir / "folder");
  WriteText(dir / "present.reg",
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n\"A\"=\"x\"\n");
  for (const auto& c : cases) {
    RegFileRegistry registry(c.file);
    RegistryKey key = 0;
    EXPECT_EQ(registry.OpenKey(c.root, c.key, &key), kErrorFileNotFound) << c.file << c.key;
  }
}

TEST(RegFileTest, RewriteKeepsOtherKeysAndValues) {
  TempDir dir;
  std::filesystem::path file = dir / "s.reg";
  WriteText(file,
            "REGEDIT4\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\n"
            "\"Store\"=\"maildir:/home/u/Maildir\"\n\"Password\"=hex:70,77\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n"
            "\"PATH1\"=\"old\"\n\"EXTRA\"=dword:00000007\n\"TOP\"=\"5\"\n\n"
            "[HKEY_CLASSES_ROOT\\.reg]\n@=\"regfile\"\n");
  RegFileRegistry registry(file);
  RegistryKey key = 0;
  ASSERT_EQ(registry.CreateKey(RegistryRoot::LocalMachine, kKey, &key), 0);
  EXPECT_EQ(registry.SetValue(key, "path1", kRegSz, B("new\0"sv)), 0);
  EXPECT_EQ(registry.SetValue(key, "LEFT", kRegSz, B("-1\0"sv)), 0);
  ASSERT_EQ(registry.CloseKey(key), 0);

  EXPECT_EQ(ReadFile(file),
            "REGEDIT4\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\n"
            "\"Store\"=\"maildir:/home/u/Maildir\"\n\"Password\"=hex:70,77\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n"
            "\"path1\"=\"new\"\n\"EXTRA\"=dword:00000007\n\"TOP\"=\"5\"\n\"LEFT\"=\"-1\"\n\n"
            "[HKEY_CLASSES_ROOT\\.reg]\n@=\"regfile\"\n");
}

// One value written through its own handle.
struct Write {
  RegistryRoot root;
  std::string key;
  std::string name;
  std::uint32_t type;
  Bytes data;
};

Write Text(const std::string& name, std::string_view text) {
  Bytes data = B(text);
  data.push_back(0);
  return {RegistryRoot::LocalMachine, kKey, name, kRegSz, data};
}

// The file after the writes, each of which must read back as written.
std::string Rewritten(const std::string& before, const std::vector<Write>& writes) {
  TempDir dir;
  std::filesystem::path file = dir / "s.reg";
  WriteText(file, before);
  for (const Write& w : writes) {
    EXPECT_EQ(Store(file, w.root, w.key, w.name, w.type, w.data), kErrorSuccess) << w.name;
  }
  for (const Write& w : writes) {
    Stored stored = Query(file, w.root, w.key, w.name);
    EXPECT_EQ(stored.type, w.type) << w.name;
    EXPECT_EQ(stored.data, w.data) << w.name;
  }
  return ReadFile(file);
}

TEST(RegFileTest, CommentsAndUnknownValuesKeptByteForByte) {
  const std::string kLm = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]";
  const std::string kMail = "[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]";
  const struct {
    const char* what;
    std::string before;
    std::vector<Write> writes;
    std::string after;
  } cases[] = {
      {"a value is replaced where it stands, its comment line and neighbours stay",
       "REGEDIT4\n\n; my notes\n" + kLm +
           "\n\"PATH1\"=\"old\" ; why\n\"OTHER\"=\"of another program\"\nnot regedit at all\n"
           "\"TYPO\"=dwrd:1\n\n[HKEY_CURRENT_USER\\Software\\Else]\n\"X\"=dword:00000001\n",
       {Text("path1", "new")},
       "REGEDIT4\n\n; my notes\n" + kLm +
           "\n\"path1\"=\"new\"\n\"OTHER\"=\"of another program\"\nnot regedit at all\n"
           "\"TYPO\"=dwrd:1\n\n[HKEY_CURRENT_USER\\Software\\Else]\n\"X\"=dword:00000001\n"},
      {"a hex list is replaced with all its continuation lines",
       "REGEDIT4\n" + kLm +
           "\n  \"BIN\" = hex:01,02,\\\n    03,\\\n  04\n\"NEXT\"=hex:05,\\\n  06\n",
       {Text("BIN", "x")},
       "REGEDIT4\n" + kLm + "\n\"BIN\"=\"x\"\n\"NEXT\"=hex:05,\\\n  06\n"},
      {"a new value goes after the last value line, before what follows it",
       "REGEDIT4\n" + kLm +
           "\n\"A\"=hex:01,\\\n  02\n; end of my values\n\n[HKEY_CURRENT_USER\\X]\n",
       {Text("B", "2")},
       "REGEDIT4\n" + kLm +
           "\n\"A\"=hex:01,\\\n  02\n\"B\"=\"2\"\n; end of my values\n\n[HKEY_CURRENT_USER\\X]\n"},
      {"a new value goes right after the header of a section without values",
       "REGEDIT4\n" + kLm + "\n; nothing yet\n\"A\"=hex:zz\n",
       {Text("A", "1")},
       "REGEDIT4\n" + kLm + "\n\"A\"=\"1\"\n; nothing yet\n\"A\"=hex:zz\n"},
      {"a new section goes at the end, after a blank line",
       "REGEDIT4\n\n[HKEY_CURRENT_USER\\X]\n\"Y\"=\"z\"\n",
       {Text("A", "1")},
       "REGEDIT4\n\n[HKEY_CURRENT_USER\\X]\n\"Y\"=\"z\"\n\n" + kLm + "\n\"A\"=\"1\"\n"},
      {"the README's mail section without a header gets REGEDIT4 first",
       kMail + "\n\"Store\"=\"maildir:/m\"\n\"Password\"=\"pw\"\n",
       {Text("PATH1", "/p")},
       "REGEDIT4\n\n" + kMail + "\n\"Store\"=\"maildir:/m\"\n\"Password\"=\"pw\"\n\n" + kLm +
           "\n\"PATH1\"=\"/p\"\n"},
      {"a file without a header that starts with a blank line gets the header alone",
       "\n" + kLm + "\n\"A\"=\"1\"\n",
       {Text("A", "2")},
       "REGEDIT4\n\n" + kLm + "\n\"A\"=\"2\"\n"},
      {"the header of version 5 is kept",
       "Windows Registry Editor Version 5.00\n\n" + kLm + "\n\"A\"=\"1\"\n",
       {Text("A", "2")},
       "Windows Registry Editor Version 5.00\n\n" + kLm + "\n\"A\"=\"2\"\n"},
      {"a file of CRLF lines gets CRLF lines, continuation lines too",
       "REGEDIT4\r\n\r\n" + kLm + "\r\n\"A\"=\"1\"\r\n\r\n",
       {Text("A", "2"), {RegistryRoot::LocalMachine, kKey, "BIG", kRegBinary, Bytes(25, 0)}},
       "REGEDIT4\r\n\r\n" + kLm + "\r\n\"A\"=\"2\"\r\n\"BIG\"=hex:" +
           [] {
             std::string bytes;
             for (int i = 0; i < 23; ++i) bytes += "00,";
             return bytes;
           }() +
           "\\\r\n  00,00\r\n\r\n"},
      {"a line of its own ending keeps it when its value is replaced",
       "REGEDIT4\n" + kLm + "\n\"A\"=\"1\"\r\n\"B\"=\"1\"\n",
       {Text("A", "2"), Text("C", "3")},
       "REGEDIT4\n" + kLm + "\n\"A\"=\"2\"\r\n\"B\"=\"1\"\n\"C\"=\"3\"\n"},
      {"an unfinished last line is replaced unfinished",
       "REGEDIT4\n" + kLm + "\n\"A\"=\"1\"",
       {Text("A", "2")},
       "REGEDIT4\n" + kLm + "\n\"A\"=\"2\""},
      {"an unfinished last line is finished before a line goes after it",
       "REGEDIT4\r\n" + kLm + "\r\n\"A\"=\"1\"",
       {Text("B", "2")},
       "REGEDIT4\r\n" + kLm + "\r\n\"A\"=\"1\"\r\n\"B\"=\"2\"\r\n"},
      {"a repeated section: each value changes where the reading finds it",
       "REGEDIT4\n" + kLm + "\n\"A\"=\"1\"\n\"B\"=\"1\"\n\n" +
           "[hkey_local_machine\\software\\vantrel\\quillmar]\n\"a\"=\"2\"\n; last\n",
       {Text("A", "3"), Text("B", "3"), Text("C", "3")},
       "REGEDIT4\n" + kLm + "\n\"A\"=\"1\"\n\"B\"=\"3\"\n\n" +
           "[hkey_local_machine\\software\\vantrel\\quillmar]\n\"A\"=\"3\"\n\"C\"=\"3\"\n; last\n"},
      {"a hex list left open at the end stays open, not completed by the new lines",
       "REGEDIT4\n" + kLm + "\n\"Z\"=hex:01,\\",
       {{RegistryRoot::CurrentUser, kMailKey, "Store", kRegSz, B("s\0"sv)}},
       "REGEDIT4\n" + kLm + "\n\"Z\"=hex:01,\\\n;\n\n" + kMail + "\n\"Store\"=\"s\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Rewritten(c.before, c.writes), c.after);
  }
}

// The file after `name` of the mail key is deleted through one handle, with
// the result of the deletion.
std::pair<long, std::string> AfterDeleting(const std::string& before, const std::string& name) {
  TempDir dir;
  std::filesystem::path file = dir / "s.reg";
  WriteText(file, before);
  RegFileRegistry registry(file);
  RegistryKey key = 0;
  EXPECT_EQ(registry.CreateKey(RegistryRoot::CurrentUser, kMailKey, &key), kErrorSuccess);
  const long result = registry.DeleteValue(key, name);
  Stored seen;
  EXPECT_EQ(registry.QueryValue(key, name, &seen.type, &seen.data), kErrorFileNotFound);
  EXPECT_EQ(registry.CloseKey(key), kErrorSuccess);
  EXPECT_EQ(Query(file, RegistryRoot::CurrentUser, kMailKey, name).result, kErrorFileNotFound);
  return {result, ReadFile(file)};
}

TEST(RegFileTest, DeletingAValueTakesOutItsOwnLinesAlone) {
  const std::string kMail = "[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]";
  const std::string kOther = "[HKEY_CURRENT_USER\\Software\\Else]\n\"Password\"=\"theirs\"\n";
  const struct {
    const char* what;
    std::string before;
    std::string name;
    long result;
    std::string after;
  } cases[] = {
      {"the value's line goes, its neighbours, comments and other keys stay",
       "REGEDIT4\n\n; mine\n" + kMail +
           "\n\"Store\"=\"imaps://u@h/INBOX\"\n\"Password\"=\"pw\" ; old\n\"CAFile\"=\"\"\n\n" +
           kOther,
       "password", kErrorSuccess,
       "REGEDIT4\n\n; mine\n" + kMail + "\n\"Store\"=\"imaps://u@h/INBOX\"\n\"CAFile\"=\"\"\n\n" +
           kOther},
      {"a hex value goes with its continuation lines",
       "REGEDIT4\r\n" + kMail + "\r\n\"Password\"=hex(1):70,\\\r\n  77,00\r\n\"Store\"=\"s\"\r\n",
       "Password", kErrorSuccess, "REGEDIT4\r\n" + kMail + "\r\n\"Store\"=\"s\"\r\n"},
      {"every section of the key loses it, so that no older one shows through",
       "REGEDIT4\n" + kMail + "\n\"Password\"=\"a\"\n\n" + kMail + "\n\"Password\"=\"b\"\n",
       "Password", kErrorSuccess, "REGEDIT4\n" + kMail + "\n\n" + kMail + "\n"},
      {"an unfinished last line goes, the line before keeps its ending",
       "REGEDIT4\n" + kMail + "\n\"Store\"=\"s\"\n\"Password\"=\"pw\"", "Password", kErrorSuccess,
       "REGEDIT4\n" + kMail + "\n\"Store\"=\"s\"\n"},
      {"an absent value is not found and the file stays byte for byte",
       "REGEDIT4\n" + kMail + "\n\"Store\"=\"s\" ; x\n\n" + kOther, "Password", kErrorFileNotFound,
       "REGEDIT4\n" + kMail + "\n\"Store\"=\"s\" ; x\n\n" + kOther},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto [result, after] = AfterDeleting(c.before, c.name);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(after, c.after);
  }
}

TEST(RegFileTest, DeletionMergesWithOtherWritersAndKeepsTheFilePrivate) {
  TempDir dir;
  std::filesystem::path file = dir / "s.reg";
  ASSERT_EQ(Store(file, RegistryRoot::CurrentUser, kMailKey, "Password", kRegSz, B("pw\0"sv)), 0);
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  RegFileRegistry deleter(file);
  RegistryKey key = 0;
  ASSERT_EQ(deleter.OpenKey(RegistryRoot::CurrentUser, kMailKey, &key), 0);
  ASSERT_EQ(deleter.DeleteValue(key, "Password"), 0);
  EXPECT_EQ(deleter.DeleteValue(key, "Password"), kErrorFileNotFound);
  EXPECT_EQ(deleter.DeleteValue(42, "Password"), kErrorInvalidHandle);
  // Written by someone else after the deleter read the key: it survives.
  ASSERT_EQ(Store(file, RegistryRoot::CurrentUser, kMailKey, "Store", kRegSz, B("s\0"sv)), 0);
  EXPECT_EQ(Query(file, RegistryRoot::CurrentUser, kMailKey, "Password").data, B("pw\0"sv));
  ASSERT_EQ(deleter.CloseKey(key), 0);
  EXPECT_EQ(Query(file, RegistryRoot::CurrentUser, kMailKey, "Password").result,
            kErrorFileNotFound);
  EXPECT_EQ(Query(file, RegistryRoot::CurrentUser, kMailKey, "Store").data, B("s\0"sv));
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
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

TEST(RegFileTest, UnicodeRegeditExportRoundTrips) {
  const std::u16string kExport =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\r\n"
      u"\"PATH1\"=\"C:\\\\受信\\\\請求書\"\r\n"
      u"\"EXP\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      u"\"OPT1\"=dword:00000001\r\n"
      u"; 日本語のメモ 🗂\r\n\r\n";
  TempDir dir;
  std::filesystem::path file = dir / "s.reg";
  WriteText(file, "\xFF\xFE" + Utf16Le(kExport));

  const struct {
    const char* name;
    std::uint32_t type;
    Bytes data;
  } read[] = {
      {"PATH1", kRegSz, B("C:\\受信\\請求書\0"sv)},
      {"EXP", 2, B("%A%\0"sv)},
      {"OPT1", kRegDword, {1, 0, 0, 0}},
  };
  for (const auto& r : read) {
    Stored stored = Query(file, RegistryRoot::LocalMachine, kKey, r.name);
    EXPECT_EQ(stored.result, kErrorSuccess) << r.name;
    EXPECT_EQ(stored.type, r.type) << r.name;
    EXPECT_EQ(stored.data, r.data) << r.name;
  }

  {
    RegFileRegistry registry(file);
    RegistryKey key = 0;
    ASSERT_EQ(registry.CreateKey(RegistryRoot::LocalMachine, kKey, &key), 0);
    registry.SetValue(key, "PATH1", kRegSz, B("/home/受信\0"sv));
    registry.SetValue(key, "KEY1", kRegSz, B("請求書\0"sv));
    registry.SetValue(key, "LINES", kRegSz, B("é\nb\0"sv));
    ASSERT_EQ(registry.CloseKey(key), 0);
  }
  EXPECT_EQ(ReadFile(file),
            "\xFF\xFE" + Utf16Le(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                 u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\r\n"
                                 u"\"PATH1\"=\"/home/受信\"\r\n"
                                 u"\"EXP\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                                 u"\"OPT1\"=dword:00000001\r\n"
                                 u"\"KEY1\"=\"請求書\"\r\n"
                                 u"\"LINES\"=hex(1):e9,00,0a,00,62,00,00,00\r\n"
                                 u"; 日本語のメモ 🗂\r\n\r\n"));
  EXPECT_EQ(Query(file, RegistryRoot::LocalMachine, kKey, "PATH1").data, B("/home/受信\0"sv));
  EXPECT_EQ(Query(file, RegistryRoot::LocalMachine, kKey, "LINES").data, B("é\nb\0"sv));
}

TEST(RegFileTest, Utf8FileWithByteOrderMarkStaysSo) {
  TempDir dir;
  std::filesystem::path file = dir / "s.reg";
  const std::string kBefore =
      "\xEF\xBB\xBFREGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n\"A\"=\"é\"\n";
  WriteText(file, kBefore);
  EXPECT_EQ(Query(file, RegistryRoot::LocalMachine, kKey, "A").data, B("é\0"sv));
  ASSERT_EQ(Store(file, RegistryRoot::LocalMachine, kKey, "B", kRegSz, B("ü\0"sv)), 0);
  EXPECT_EQ(ReadFile(file), kBefore + "\"B\"=\"ü\"\n");
}

std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

unsigned ModeOf(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(RegFileTest, BinaryGarbageIsSetAside) {
  const std::string kLm = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]";
  const struct {
    const char* what;
    std::string bytes;
    bool garbage;
  } cases[] = {
      {"a NUL byte", std::string("REGEDIT4\n\0\n", 11), true},
      {"a control character", "REGEDIT4\n" + kLm + "\n\"A\"=\"\x01\"\n", true},
      {"an executable",
       std::string("\x7f"
                   "ELF\x02\x01\x01\0\0\0",
                   10),
       true},
      {"a lone surrogate in UTF-16", "\xFF\xFE" + Utf16Le(u"REGEDIT4\r\n\xD800\r\n"), true},
      {"an odd byte after UTF-16", "\xFF\xFE" + Utf16Le(u"REGEDIT4\r\n") + "x", true},
      {"a NUL character in UTF-16", "\xFF\xFE" + Utf16Le(std::u16string(u"REGEDIT4\0", 9)), true},
      {"a control character after a UTF-8 mark", "\xEF\xBB\xBFREGEDIT4\x1b\n", true},
      {"bytes that are no UTF-8 after a UTF-8 mark", "\xEF\xBB\xBFREGEDIT4\n\xff\n", true},
      {"a UTF-8 sequence cut short after a UTF-8 mark", "\xEF\xBB\xBFREGEDIT4\n\xe5\x8f", true},
      {"an overlong form after a UTF-8 mark", "\xEF\xBB\xBFREGEDIT4\n\xe0\x80\xaf\n", true},
      {"a surrogate after a UTF-8 mark", "\xEF\xBB\xBFREGEDIT4\n\xed\xa0\x80\n", true},
      {"past U+10FFFF after a UTF-8 mark", "\xEF\xBB\xBFREGEDIT4\n\xf4\x90\x80\x80\n", true},
      {"the last character after a UTF-8 mark", "\xEF\xBB\xBFREGEDIT4\n\xf4\x8f\xbf\xbf\n", false},
      {"tabs, CR and bytes above ASCII are text", "REGEDIT4\r\n\t; \xff\xfe\x80\r\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::filesystem::path file = dir / "s.reg";
    WriteText(file, c.bytes);
    std::filesystem::permissions(file, std::filesystem::perms(0644));  // as a text editor leaves it

    // Reading never moves or changes anything.
    EXPECT_EQ(Query(file, RegistryRoot::LocalMachine, kKey, "A").result, kErrorFileNotFound);
    EXPECT_EQ(ReadFile(file), c.bytes);
    EXPECT_EQ(FolderNames(dir.path()), std::vector<std::string>{"s.reg"});

    std::vector<std::filesystem::path> notices;
    {
      RegFileRegistry registry(
          file, [&](const std::filesystem::path& moved_to) { notices.push_back(moved_to); });
      RegistryKey key = 0;
      ASSERT_EQ(registry.CreateKey(RegistryRoot::LocalMachine, kKey, &key), 0);
      registry.SetValue(key, "A", kRegSz, B("1\0"sv));
      EXPECT_EQ(registry.CloseKey(key), kErrorSuccess);
    }
    EXPECT_EQ(Query(file, RegistryRoot::LocalMachine, kKey, "A").data, B("1\0"sv));
    if (!c.garbage) {
      EXPECT_TRUE(notices.empty());
      EXPECT_EQ(FolderNames(dir.path()), std::vector<std::string>{"s.reg"});
      continue;
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].parent_path(), dir.path());
    EXPECT_TRUE(std::regex_match(notices[0].filename().string(),
                                 std::regex(R"(s\.reg\.unreadable-\d{8}-\d{6})")))
        << notices[0];
    EXPECT_EQ(ReadFile(notices[0]), c.bytes);
    EXPECT_EQ(ModeOf(notices[0]), 0600u) << "it may hold a password";
    EXPECT_EQ(ReadFile(file), "REGEDIT4\n\n" + kLm + "\n\"A\"=\"1\"\n");
    EXPECT_EQ(FolderNames(dir.path()).size(), 2u);
  }
}

// What is in `folder`, by name, without opening anything: a FIFO must not
// be waited on, and /dev/zero not read.
std::map<std::string, std::string> EntriesOf(const std::filesystem::path& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const auto status = entry.symlink_status();
    std::string& kind = entries[entry.path().filename().string()];
    if (std::filesystem::is_symlink(status)) {
      kind = "link to " + std::filesystem::read_symlink(entry.path()).string();
    } else if (std::filesystem::is_regular_file(status)) {
      kind = "file of " + std::to_string(entry.file_size());
    } else {
      kind = "type " + std::to_string(static_cast<int>(status.type()));
    }
  }
  return entries;
}

// A settings file that is no regular file is neither read nor moved nor
// replaced, and opening it never waits; one too large to be a settings file
// reads as empty and is set aside at the next save, as one that is no text.
// A link to a regular file is read, and a save puts the file in its place.
TEST(RegFileTest, OnlyARegularFileOfBoundedSizeIsRead) {
  enum class Outcome { kLeftAlone, kSetAside, kReadAndSaved };
  const std::string kLm = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]";
  const std::string values = "REGEDIT4\n\n" + kLm + "\n\"A\"=\"old\"\n";
  const struct {
    const char* what;
    std::function<void(const std::filesystem::path&)> make;
    Outcome outcome;
  } cases[] = {
      {"a FIFO", [](const auto& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); },
       Outcome::kLeftAlone},
      {"a link to /dev/zero",
       [](const auto& file) { std::filesystem::create_symlink("/dev/zero", file); },
       Outcome::kLeftAlone},
      {"a link to a good settings file",
       [&](const auto& file) {
         WriteText(file.parent_path() / "real.reg", values);
         std::filesystem::create_symlink("real.reg", file);
       },
       Outcome::kReadAndSaved},
      {"a folder", [](const auto& file) { std::filesystem::create_directory(file); },
       Outcome::kLeftAlone},
      {"a file over the limit",
       [&](const auto& file) {
         WriteText(file, values + std::string(kSettingsFileLimit, ';'));
         std::filesystem::permissions(file, std::filesystem::perms(0644));
       },
       Outcome::kSetAside},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::filesystem::path file = dir / "s.reg";
    c.make(file);
    const auto before = EntriesOf(dir.path());

    const Stored read = Query(file, RegistryRoot::LocalMachine, kKey, "A");
    if (c.outcome == Outcome::kReadAndSaved) {
      EXPECT_EQ(read.data, B("old\0"sv));
    } else {
      EXPECT_EQ(read.result, kErrorFileNotFound);
    }
    std::vector<std::filesystem::path> notices;
    long stored = 0;
    {
      RegFileRegistry registry(
          file, [&](const std::filesystem::path& moved_to) { notices.push_back(moved_to); });
      RegistryKey key = 0;
      stored = registry.CreateKey(RegistryRoot::LocalMachine, kKey, &key);
      if (stored == kErrorSuccess) {
        registry.SetValue(key, "A", kRegSz, B("new\0"sv));
        stored = registry.CloseKey(key);
      }
    }
    if (c.outcome == Outcome::kLeftAlone) {
      EXPECT_EQ(stored, kErrorAccessDenied);
      EXPECT_TRUE(notices.empty());
      EXPECT_EQ(EntriesOf(dir.path()), before);
      continue;
    }
    EXPECT_EQ(stored, kErrorSuccess);
    EXPECT_EQ(Query(file, RegistryRoot::LocalMachine, kKey, "A").data, B("new\0"sv));
    if (c.outcome == Outcome::kReadAndSaved) {
      EXPECT_TRUE(notices.empty());
      continue;
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(ModeOf(notices[0]), 0600u);
    EXPECT_EQ(std::filesystem::file_size(notices[0]), values.size() + kSettingsFileLimit);
    EXPECT_EQ(Query(file, RegistryRoot::LocalMachine, kKey, "A").data, B("new\0"sv));
  }
}

// Whatever the path names, the reading ends at once, takes no more than the
// limit and only a regular file, and follows a last link only when told to.
TEST(ReadRegularFileTest, TakesOnlyARegularFileWithinTheLimit) {
  TempDir dir;
  WriteText(dir / "small", "abc");
  WriteText(dir / "at-limit", std::string(16, 'x'));
  WriteText(dir / "over-limit", std::string(17, 'x'));
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink("small", dir / "link");
  std::filesystem::create_symlink("/dev/zero", dir / "zero");
  using enum RegularFileState;
  const struct {
    std::filesystem::path path;
    FinalLink link;
    RegularFileState state;
    std::string bytes;
  } cases[] = {
      {dir / "small", FinalLink::kRefuse, kRead, "abc"},
      {dir / "at-limit", FinalLink::kRefuse, kRead, std::string(16, 'x')},
      {dir / "over-limit", FinalLink::kFollow, kTooLarge, ""},
      {dir / "missing", FinalLink::kRefuse, kMissing, ""},
      {dir / "small/below", FinalLink::kRefuse, kMissing, ""},
      {dir / "fifo", FinalLink::kFollow, kNotRegular, ""},
      {dir / "folder", FinalLink::kFollow, kNotRegular, ""},
      {"/dev/null", FinalLink::kFollow, kNotRegular, ""},
      {dir / "link", FinalLink::kRefuse, kNotRegular, ""},
      {dir / "link", FinalLink::kFollow, kRead, "abc"},
      {dir / "zero", FinalLink::kFollow, kNotRegular, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string() + (c.link == FinalLink::kFollow ? " (following)" : ""));
    const RegularFileContent content = ReadRegularFile(c.path, 16, c.link);
    EXPECT_EQ(content.state, c.state);
    EXPECT_EQ(content.bytes, c.bytes);
  }
}

TEST(RegFileTest, MoveAsideNeverReplacesAFile) {
  TempDir dir;
  std::filesystem::path file = dir / "s.reg";
  WriteText(file, "new garbage");
  WriteText(dir / "s.reg.unreadable-20240102-030405", "first");
  WriteText(dir / "s.reg.unreadable-20240102-030405-2", "second");
  std::optional<std::filesystem::path> moved = MoveAside(file, "20240102-030405");
  ASSERT_TRUE(moved.has_value());
  EXPECT_EQ(*moved, dir / "s.reg.unreadable-20240102-030405-3");
  EXPECT_EQ(testing::ListFolder(dir.path()),
            (testing::Listing{{"s.reg.unreadable-20240102-030405", "first"},
                              {"s.reg.unreadable-20240102-030405-2", "second"},
                              {"s.reg.unreadable-20240102-030405-3", "new garbage"}}));
  EXPECT_FALSE(MoveAside(file, "20240102-030405").has_value());  // nothing left to move
}

TEST(RegFileTest, WritesLastOnlyFromCloseAndMergeWithOtherWriters) {
  TempDir dir;
  std::filesystem::path file = dir / "s.reg";
  ASSERT_EQ(Store(file, RegistryRoot::LocalMachine, kKey, "B", kRegSz, B("old\0"sv)), 0);
  RegFileRegistry first(file);
  RegFileRegistry second(file);
  RegFileRegistry third(file);
  RegistryKey first_key = 0;
  RegistryKey second_key = 0;
  RegistryKey third_key = 0;
  ASSERT_EQ(first.CreateKey(RegistryRoot::LocalMachine, kKey, &first_key), 0);
  ASSERT_EQ(second.CreateKey(RegistryRoot::CurrentUser, kMailKey, &second_key), 0);
  ASSERT_EQ(third.CreateKey(RegistryRoot::LocalMachine, kKey, &third_key), 0);
  first.SetValue(first_key, "A", kRegSz, B("1\0"sv));
  second.SetValue(second_key, "Store", kRegSz, B("2\0"sv));
  third.SetValue(third_key, "B", kRegSz, B("new\0"sv));
  EXPECT_EQ(third.CloseKey(third_key), 0);

  Stored seen;
  EXPECT_EQ(first.QueryValue(first_key, "a", &seen.type, &seen.data), 0);
  EXPECT_EQ(seen.data, B("1\0"sv));
  EXPECT_EQ(Query(file, RegistryRoot::LocalMachine, kKey, "A").result, kErrorFileNotFound);

  EXPECT_EQ(second.CloseKey(second_key), 0);
  EXPECT_EQ(first.CloseKey(first_key), 0);
  EXPECT_EQ(Query(file, RegistryRoot::LocalMachine, kKey, "A").data, B("1\0"sv));
  EXPECT_EQ(Query(file, RegistryRoot::CurrentUser, kMailKey, "Store").data, B("2\0"sv));
  // The first handle read "B" before the third changed it, but never wrote it.
  EXPECT_EQ(Query(file, RegistryRoot::LocalMachine, kKey, "B").data, B("new\0"sv));
}

TEST(RegFileTest, CreatedFileAndFoldersArePrivate) {
  TempDir dir;
  std::filesystem::path folder = dir / "config" / "Vantrel";
  std::filesystem::path file = folder / "Quillmar.reg";
  ::umask(022);
  ASSERT_EQ(Store(file, RegistryRoot::LocalMachine, kKey, "A", kRegSz, B("x\0"sv)), 0);
  ASSERT_EQ(Store(file, RegistryRoot::LocalMachine, kKey, "B", kRegSz, B("y\0"sv)), 0);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  for (const auto& created : {dir / "config", folder}) {
    ASSERT_EQ(::stat(created.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u) << created;
  }
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    EXPECT_EQ(entry.path().filename(), "Quillmar.reg");  // no temporary file left behind
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(RegFileTest, FailuresAreResultCodesNotCrashes) {
  TempDir dir;
  WriteText(dir / "plain", "x");
  RegFileRegistry blocked(dir / "plain" / "sub" / "s.reg");  // parent is a regular file
  RegistryKey key = 0;
  EXPECT_NE(blocked.CreateKey(RegistryRoot::LocalMachine, kKey, &key), kErrorSuccess);

  RegFileRegistry registry(dir / "s.reg");
  Bytes data;
  std::uint32_t type = 0;
  EXPECT_EQ(registry.QueryValue(42, "A", &type, &data), kErrorInvalidHandle);
  EXPECT_EQ(registry.SetValue(42, "A", kRegSz, data), kErrorInvalidHandle);
  EXPECT_EQ(registry.CloseKey(42), kErrorInvalidHandle);
  ASSERT_EQ(registry.CreateKey(RegistryRoot::LocalMachine, kKey, &key), 0);
  RegistryKey other = 0;
  EXPECT_NE(registry.SetValue(key, "line\nbreak", kRegSz, B("x\0"sv)), kErrorSuccess);
  EXPECT_NE(registry.SetValue(key, "bell\a", kRegSz, B("x\0"sv)), kErrorSuccess);
  EXPECT_NE(registry.CreateKey(RegistryRoot::LocalMachine, "SOFTWARE\x01", &other), kErrorSuccess);
  EXPECT_EQ(registry.CloseKey(key), 0);
  EXPECT_EQ(registry.CloseKey(key), kErrorInvalidHandle);
  // The created key exists, even without values.
  EXPECT_EQ(registry.OpenKey(RegistryRoot::LocalMachine, kKey, &key), 0);
  EXPECT_EQ(registry.QueryValue(key, "line\nbreak", &type, &data), kErrorFileNotFound);
}

}  // namespace
}  // namespace qm
