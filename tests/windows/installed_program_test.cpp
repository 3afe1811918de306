// The Windows program as a user gets it: the MSI installed into a fresh Wine
// prefix (.ci/windows does that), its settings in that prefix's registry, and
// the installed quillmar.exe started with "-a" as Task Scheduler starts it,
// against a Maildir, against a private Dovecot over TLS (Windows' own TLS,
// trusting the test certificate through CAFile), and against Outlook's inbox
// as the stand-in mail program serves it (QM_FAKE_MAPI_DLL, from the
// Windows build, registered as the prefix's default mail program). The saved files are checked
// byte for byte on the Wine drive, Japanese names outside code page 932 and
// names Windows refuses included.
//
// QM_INSTALLED_PROGRAM names the installed quillmar.exe (a Linux path into
// the Wine prefix) and WINEPREFIX that prefix; without them the tests skip,
// and under CI=true they fail instead.

#include <glib.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/archive/ToolArchive.h"
#include "tests/e2e/EndToEnd.h"
#include "tests/support/CiSkip.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/FileBytes.h"
#include "tests/support/GraphTestServer.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;

// The Wine drive Z: is the Linux root.
std::string WindowsPath(const fs::path& path) {
  std::string text = "Z:" + path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

std::string Utf16Le(const std::string& utf8) {
  iconv_t convert = ::iconv_open("UTF-16LE", "UTF-8");
  std::string out(utf8.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* next = out.data();
  std::size_t out_left = out.size();
  const std::size_t done = ::iconv(convert, &in, &in_left, &next, &out_left);
  ::iconv_close(convert);
  EXPECT_NE(done, static_cast<std::size_t>(-1)) << "not UTF-8: " << utf8;
  out.resize(out.size() - out_left);
  return out;
}

// A registry file as regedit writes it, UTF-16 with its byte-order mark, so
// that Japanese values arrive whole whatever the code page.
void WriteRegistryFile(const fs::path& file, const std::vector<std::string>& lines) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  std::ofstream(file, std::ios::binary) << "\xff\xfe" << Utf16Le(text);
}

class InstalledProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* program = std::getenv("QM_INSTALLED_PROGRAM");
    const char* prefix = std::getenv("WINEPREFIX");
    if (program == nullptr || prefix == nullptr || !fs::exists(program)) {
      QM_SKIP_OUTSIDE_CI("QM_INSTALLED_PROGRAM and WINEPREFIX do not name an installed program");
    }
    program_ = program;
    fs::create_directories(Out());
  }

  // The settings and the mail profile, into the Wine prefix's registry.
  // `more` are further registry lines (keys and values of their own).
  void WriteSettings(const std::vector<std::string>& profile,
                     const std::vector<std::string>& more = {}) {
    std::vector<std::string> lines = {
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]",
        "\"PATH1\"=" + RegText(WindowsPath(Out())),
        "\"KEY1\"=\"\"",
        "\"ITEM1\"=dword:00000000",
        "\"OPT1\"=dword:00000000",
        "\"OPT2\"=dword:00000000",
        "\"OPT3\"=dword:00000001",  // 自動終了: the run ends after its scan
        "",
        "[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]"};
    lines.insert(lines.end(), profile.begin(), profile.end());
    lines.push_back("");
    lines.insert(lines.end(), more.begin(), more.end());
    const fs::path file = temp_.path() / "settings.reg";
    WriteRegistryFile(file, lines);
    const ProgramResult imported = Wine({"regedit", "/S", WindowsPath(file)});
    ASSERT_EQ(imported.exit_code, 0) << imported.err;
  }

  // Through wine-run: the desktop process that the program's window starts
  // outlives it and would hold a pipe of its output open.
  ProgramResult Wine(const std::vector<std::string>& args) {
    return RunProgram(QM_WINE_RUN, args, Environment(), std::chrono::seconds(180));
  }

  ProgramResult RunInstalled() { return Wine({program_.string(), "-a"}); }

  std::map<std::string, std::string> Environment() const {
    std::map<std::string, std::string> env = {{"WINEPREFIX", std::getenv("WINEPREFIX")},
                                              {"WINEDEBUG", "-all"},
                                              {"LC_ALL", "ja_JP.UTF-8"},
                                              {"HOME", std::getenv("HOME")},
                                              {"PATH", "/usr/bin:/bin"}};
    for (const char* name : {"DISPLAY", "XAUTHORITY"}) {
      if (const char* value = std::getenv(name)) env[name] = value;
    }
    env.insert(extra_env_.begin(), extra_env_.end());
    return env;
  }

  fs::path Out() const { return temp_.path() / "受信フォルダ"; }

  std::map<std::string, std::string> Saved() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(Out())) {
      files[entry.path().filename().string()] = ReadFile(entry.path());
    }
    return files;
  }

  TempDir temp_;
  fs::path program_;
  std::map<std::string, std::string> extra_env_;
};

// Attachment names as sent (percent-encoded UTF-8) and as they must land.
struct Name {
  std::string sent;
  std::string saved;
};

const std::vector<Name>& Names() {
  static const std::vector<Name> names = {
      {"%F0%A0%AE%B7%E9%87%8E%E5%AE%B6.pdf", "𠮷野家.pdf"},  // outside code page 932
      {"%E2%91%A0%E2%91%A1.txt", "①②.txt"},                  // in code page 932's extension only
      {"%F0%9F%93%84report.pdf", "📄report.pdf"},             // emoji: a surrogate pair in UTF-16
      {"CON", "_CON"},                                       // a device name
      {"aux.txt", "_aux.txt"},
      {"a%3Cb%3E%22c%22%7C.txt", "a_b__c__.txt"},  // <>"|
      {"trailing.%20.", "trailing"},               // trailing dots and spaces
  };
  return names;
}

std::map<std::string, std::string> ExpectedFiles() {
  std::map<std::string, std::string> files;
  // The line break before the boundary belongs to the boundary (RFC 2046).
  for (const Name& name : Names()) files[name.saved] = "content of " + name.sent;
  return files;
}

// A Maildir with one unread message for each of Names().
fs::path MaildirOfNames(const fs::path& maildir) {
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir / sub);
  int serial = 0;
  for (const Name& name : Names()) {
    std::ofstream(maildir / "new" / ("17000000" + std::to_string(serial++) + ".M1P1.test"),
                  std::ios::binary)
        << Message("files", "Sender <s@example.jp>", name.sent);
  }
  return maildir;
}

TEST_F(InstalledProgram, SavesEveryAttachmentOfAMaildir) {
  const fs::path maildir = MaildirOfNames(temp_.path() / "Maildir");
  WriteSettings({"\"Store\"=" + RegText("maildir:" + WindowsPath(maildir))});
  const ProgramResult run = RunInstalled();
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_EQ(Saved(), ExpectedFiles());
}

TEST_F(InstalledProgram, SavesEveryAttachmentFromImapOverTls) {
  if (!DovecotServer::Installed()) QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled());
  DovecotServer server;
  for (const Name& name : Names()) server.Deliver(Message("files", "s@example.jp", name.sent));
  // Windows' TLS checks the name in the certificate: localhost, never 127.0.0.1.
  const std::string store = "imaps://" + std::string(DovecotServer::kUser) +
                            "@localhost:" + std::to_string(server.tls_port()) + "/INBOX";
  WriteSettings({"\"Store\"=" + RegText(store), "\"Password\"=" + RegText(DovecotServer::kPassword),
                 "\"CAFile\"=" + RegText(WindowsPath(server.certificate()))});
  const ProgramResult run = RunInstalled();
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_EQ(Saved(), ExpectedFiles());
}

// Microsoft 365 through Microsoft Graph: HTTPS with Windows' own TLS, the
// test CA trusted through CAFile, the token from a command (cmd.exe's echo);
// the messages whose files were saved are marked read at the end.
TEST_F(InstalledProgram, SavesEveryAttachmentFromMicrosoft365ThroughGraph) {
  const fs::path maildir = MaildirOfNames(temp_.path() / "Maildir");
  GraphTestServer graph({maildir});
  std::string root = graph.ApiRoot();
  root.replace(root.find("127.0.0.1"), 9, "localhost");  // the name Windows' TLS checks
  WriteSettings({"\"Store\"=\"graph:\"", "\"Provider\"=\"microsoft\"", "\"ClientId\"=\"test\"",
                 "\"GraphEndpoint\"=" + RegText(root),
                 "\"CAFile\"=" + RegText(WindowsPath(graph.CaFile())),
                 "\"PasswordCommand\"=\"echo good-token\""});
  const ProgramResult run = RunInstalled();
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_EQ(Saved(), ExpectedFiles());
  // Each message once in a batch to fetch it and once in a batch to mark it
  // read: none asked for twice, none skipped.
  EXPECT_EQ(graph.counts().batch_items, 2 * static_cast<int>(Names().size()));
  EXPECT_TRUE(fs::is_empty(maildir / "new")) << "not marked read";
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// A message of the stand-in mail program's mailbox folder (its layout:
// tests/mapi/FakeMapiMailbox.h), unread, with one attachment.
void AddOutlookMessage(const fs::path& mailbox, const std::string& id, const std::string& file,
                       const std::string& bytes) {
  const fs::path message = mailbox / "messages" / id;
  fs::create_directories(message / "files");
  WriteFile(message / "envelope.txt",
            "subject=請求書\nsender=山田 太郎\naddress=yamada@example.jp\n");
  WriteFile(message / "unread", "");
  WriteFile(message / "files" / file, bytes);
}

TEST_F(InstalledProgram, SavesEveryAttachmentFromOutlookAndMarksItRead) {
  const char* provider = std::getenv("QM_FAKE_MAPI_DLL");
  if (provider == nullptr || !fs::exists(provider)) {
    QM_SKIP_OUTSIDE_CI("QM_FAKE_MAPI_DLL names no stand-in mail program");
  }
  const fs::path mailbox = temp_.path() / "outlook";
  std::map<std::string, std::string> expected;
  int serial = 0;
  for (const char* name : {"見積書.pdf", "𠮷野家.pdf", "①②.txt", "📄report.pdf"}) {
    const std::string id = "000" + std::to_string(++serial);
    AddOutlookMessage(mailbox, id, name, std::string("content of ") + name);
    expected[name] = std::string("content of ") + name;
  }
  extra_env_["QM_FAKE_MAPI_MAILBOX"] = WindowsPath(mailbox);
  const std::string dll = RegText(WindowsPath(provider));
  WriteSettings({"\"Store\"=" + RegText("mapi:")},
                {"[HKEY_LOCAL_MACHINE\\Software\\Clients\\Mail]", "@=\"QuillmarFakeMail\"", "",
                 "[HKEY_LOCAL_MACHINE\\Software\\Clients\\Mail\\QuillmarFakeMail]",
                 "\"DLLPath\"=" + dll, "\"DLLPathEx\"=" + dll});
  const ProgramResult run = RunInstalled();
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_EQ(Saved(), expected);
  for (int id = 1; id <= serial; ++id) {
    EXPECT_FALSE(fs::exists(mailbox / "messages" / ("000" + std::to_string(id)) / "unread")) << id;
  }
  // The mail program's temporary files went once copied.
  for (const auto& entry : fs::recursive_directory_iterator(mailbox / "temp")) {
    EXPECT_FALSE(entry.is_regular_file()) << entry.path();
  }
  // A run at start asks for no sign-on window (no MAPI_LOGON_UI).
  EXPECT_NE(ReadFile(mailbox / "calls.log").find("MAPILogon flags=0x0 profile="),
            std::string::npos);
}

std::string Base64(const std::string& bytes) {
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string text(encoded);
  g_free(encoded);
  return text;
}

// An encrypted archive (WinZip AES-256: Windows' own BCrypt decrypts it)
// and the ISO-2022-JP mail with its password: both land, the archive's
// files in a folder of its own, under their Japanese names.
TEST_F(InstalledProgram, UnpacksAPasswordZipWithThePasswordOfTheNextMail) {
  const fs::path maildir = temp_.path() / "Maildir";
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir / sub);
  const fs::path scratch = temp_.path() / "zip";
  fs::create_directories(scratch);
  ASSERT_TRUE(ArchiveWithTools("",
                               {{"7z",
                                 {"a", "-tzip", "-mem=AES256", "-pMitsu9mori", "-bd", "-bso0"},
                                 {{"請求書.pdf", "%PDF-1.4 invoice"}}}},
                               scratch, scratch / "a.zip"))
      << "7z is missing";
  std::ofstream(maildir / "new" / "1700000001.M1P1.test", std::ios::binary)
      << "From: Tanaka <tanaka@example.co.jp>\r\nDate: Mon, 7 Dec 2026 10:00:00 +0900\r\n"
         "Subject: =?UTF-8?B?6KaL56mN5pu4?=\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
         "--b\r\nContent-Type: application/zip\r\nContent-Disposition: attachment; "
         "filename*=UTF-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8.zip\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n"
      << Base64(ReadFile(scratch / "a.zip")) << "\r\n--b--\r\n";
  std::ofstream(maildir / "new" / "1700000002.M2P1.test", std::ios::binary)
      << "From: Tanaka <tanaka@example.co.jp>\r\nDate: Mon, 7 Dec 2026 10:01:00 +0900\r\n"
         "Subject: =?ISO-2022-JP?B?GyRCJVElOSVvITwlSRsoQg==?=\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
         // パスワード：Mitsu9mori
         "\x1b$B%Q%9%o!<%I!'\x1b(BMitsu9mori\r\n";
  WriteSettings({"\"Store\"=" + RegText("maildir:" + WindowsPath(maildir))});
  const ProgramResult run = RunInstalled();
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(fs::is_regular_file(Out() / "見積書.zip"));
  EXPECT_EQ(ReadFile(Out() / "見積書" / "請求書.pdf"), "%PDF-1.4 invoice");
}

}  // namespace
}  // namespace qm
