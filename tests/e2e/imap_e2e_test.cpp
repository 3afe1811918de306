// The whole job through the real binary over IMAP, headless with "-a": a
// private Dovecot holds the same messages as the Maildir end-to-end test, and
// the same selections must save the same files; marks, a second unread-only
// run and refused sign-ons are checked on the server.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/DovecotServer.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::DovecotServer;
using testing::ProgramResult;
using testing::RunProgram;
using testing::TempDir;

struct StoredSettings {
  std::string path;
  std::string keyword;
  int item = 0;
  std::array<int, 3> opt{};
};

struct Profile {
  std::string password = DovecotServer::kPassword;
  bool trust_server = true;  // CAFile names the server's certificate
};

std::string RegText(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return "\"" + escaped + "\"";
}

std::string RegDword(int value) {
  char text[32];
  std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(value));
  return text;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One message with one text attachment named `file` (empty: no attachment).
std::string Message(const std::string& subject, const std::string& from, const std::string& file) {
  std::string m = "From: " + from + "\nSubject: " + subject +
                  "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"zz\"\n\n"
                  "--zz\nContent-Type: text/plain; charset=UTF-8\n\nHello.\n";
  if (!file.empty()) {
    m += "--zz\nContent-Type: application/octet-stream\nContent-Disposition: attachment;"
         " filename*=UTF-8''" +
         file + "\nContent-Transfer-Encoding: 7bit\n\ncontent of " + file + "\n";
  }
  return m + "--zz--\n";
}

// `name` as the messages spell it in their filename*= parameters.
std::string PercentEncoded(const std::string& name) {
  std::string encoded;
  for (const unsigned char c : name) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    encoded += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return encoded;
}

// One server for the suite; every test starts from an empty mailbox.
class ImapEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (DovecotServer::Installed()) server_ = new DovecotServer();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (server_ == nullptr) GTEST_SKIP() << DovecotServer::kProgram << " is not installed";
    for (const char* sub : {"cur", "new"}) {
      for (const auto& e : fs::directory_iterator(server_->maildir() / sub)) fs::remove(e.path());
    }
    for (const char* sub : {"home", "config/Vantrel", "tmp", "runtime", "out"}) {
      fs::create_directories(root_ / sub);
    }
    fs::permissions(root_ / "runtime", fs::perms::owner_all);
  }

  void WriteSettings(const StoredSettings& s, const Profile& profile = {}) {
    const std::string store = "imaps://" + std::string(DovecotServer::kUser) +
                              "@localhost:" + std::to_string(server_->tls_port()) + "/INBOX";
    const std::string ca = profile.trust_server ? server_->certificate().string() : "";
    std::ofstream reg(root_ / "config/Vantrel/Quillmar.reg", std::ios::binary);
    reg << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n"
        << "\"PATH1\"=" << RegText(s.path) << "\n\"KEY1\"=" << RegText(s.keyword) << "\n"
        << "\"ITEM1\"=" << RegDword(s.item) << "\n\"OPT1\"=" << RegDword(s.opt[0]) << "\n"
        << "\"OPT2\"=" << RegDword(s.opt[1]) << "\n\"OPT3\"=" << RegDword(s.opt[2]) << "\n"
        << "\"LEFT\"=\"0\"\n\"TOP\"=\"0\"\n\n"
        << "[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\n"
        << "\"Store\"=" << RegText(store) << "\n\"Password\"=" << RegText(profile.password)
        << "\n\"CAFile\"=" << RegText(ca) << "\n";
  }

  ProgramResult Run() {
    return RunProgram(QM_BINARY, {"-a"},
                      {{"HOME", (root_ / "home").string()},
                       {"XDG_CONFIG_HOME", (root_ / "config").string()},
                       {"XDG_RUNTIME_DIR", (root_ / "runtime").string()},
                       {"TMPDIR", (root_ / "tmp").string()},
                       {"LANG", "C.UTF-8"},
                       {"PATH", "/usr/bin:/bin"}});
  }

  fs::path Out() const { return root_ / "out"; }

  // Saved files by name, with their contents.
  std::map<std::string, std::string> Saved() const {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(Out())) {
      files[e.path().filename().string()] = ReadFile(e.path());
    }
    return files;
  }

  // The attachments' contents. The server sends every line with CRLF, and the
  // line break before a boundary line belongs to the boundary, so no file
  // ends in one.
  static std::map<std::string, std::string> Attachments(const std::set<std::string>& names) {
    std::map<std::string, std::string> files;
    for (const std::string& name : names) files[name] = "content of " + PercentEncoded(name);
    return files;
  }

  static DovecotServer* server_;
  TempDir temp_;
  fs::path root_ = temp_.path();
};

DovecotServer* ImapEndToEnd::server_ = nullptr;

struct SelectionCase {
  const char* name;
  std::string keyword;
  int item;
  std::array<int, 3> opt;
  std::set<std::string> saved;
};

class ImapEndToEndSelection : public ImapEndToEnd,
                              public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(ImapEndToEndSelection, SavesTheSameFilesAsFromAMaildir) {
  server_->Deliver(Message("Invoice for May", "Billing <billing@example.jp>", "invoice.pdf"));
  server_->Deliver(Message("=?ISO-2022-JP?B?GyRCJDQwRkZiGyhC?=",
                           "=?UTF-8?B?5bGx55Sw?= <yamada@abc.example>", "%E8%A6%8B%E7%A9%8D.pdf"),
                   "S");
  server_->Deliver(Message("broken =?UTF-8?B?!!!?= word", "x@example.com", "x.bin"));
  server_->Deliver(
      Message("=?UTF-8?B?772x776E776e776a77295biz?=", "Book <book@example.jp>", "book.csv"));
  server_->Deliver(Message("no attachment", "Alice <alice@example.jp>", ""));
  const SelectionCase& c = GetParam();
  WriteSettings({Out().string(), c.keyword, c.item, c.opt});

  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(Saved(), Attachments(c.saved));
  EXPECT_TRUE(fs::is_empty(root_ / "tmp")) << "temporary files left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Scan, ImapEndToEndSelection,
    ::testing::Values(
        SelectionCase{
            "EmptyKeyword", "", 0, {0, 0, 0}, {"invoice.pdf", "見積.pdf", "x.bin", "book.csv"}},
        SelectionCase{"Star", "*", 0, {0, 0, 1}, {"invoice.pdf", "見積.pdf", "x.bin", "book.csv"}},
        SelectionCase{"SubjectCase", "INVOICE", 0, {0, 0, 0}, {"invoice.pdf"}},
        SelectionCase{"SubjectJapanese", "案内", 0, {0, 0, 0}, {"見積.pdf"}},
        SelectionCase{"SubjectWidthAndKana", "アドレス", 0, {0, 0, 0}, {"book.csv"}},
        SelectionCase{"SenderName", "山田", 1, {0, 0, 0}, {"見積.pdf"}},
        SelectionCase{"Address", "ABC", 2, {0, 0, 0}, {"見積.pdf"}},
        SelectionCase{"AddressNotSubject", "invoice", 2, {0, 0, 0}, {}},
        SelectionCase{"UnreadOnly", "", 0, {0, 1, 0}, {"invoice.pdf", "x.bin", "book.csv"}},
        SelectionCase{
            "AllMail", "zzz", 0, {1, 0, 0}, {"invoice.pdf", "見積.pdf", "x.bin", "book.csv"}},
        SelectionCase{"AllUnread", "zzz", 0, {1, 1, 0}, {"invoice.pdf", "x.bin", "book.csv"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(ImapEndToEnd, SecondUnreadOnlyRunCollectsNothingNew) {
  const std::string a = server_->Deliver(Message("one", "a@example.com", "one.txt"));
  const std::string b = server_->Deliver(Message("two", "b@example.com", "two.txt"), "F");
  const std::string c = server_->Deliver(Message("three", "c@example.com", ""));
  WriteSettings({Out().string(), "", 0, {0, 1, 1}});
  const ProgramResult first = Run();
  ASSERT_EQ(first.exit_code, 0) << first.err;
  EXPECT_EQ(Saved(), Attachments({"one.txt", "two.txt"}));
  // Messages with attachments are marked read on the server; other flags stay.
  EXPECT_EQ(server_->Flags(a), "S");
  EXPECT_EQ(server_->Flags(b), "FS");
  EXPECT_EQ(server_->Flags(c), "");

  fs::remove(Out() / "one.txt");
  fs::remove(Out() / "two.txt");
  const ProgramResult second = Run();
  ASSERT_EQ(second.exit_code, 0) << second.err;
  EXPECT_TRUE(Saved().empty());
}

struct RefusedCase {
  const char* name;
  Profile profile;
  const char* text;
};

class ImapEndToEndRefused : public ImapEndToEnd,
                            public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(ImapEndToEndRefused, PrintsOneLineWithoutThePasswordAndTouchesNothing) {
  const std::string id = server_->Deliver(Message("one", "a@example.com", "one.txt"));
  const RefusedCase& c = GetParam();
  WriteSettings({Out().string(), "", 0, {0, 0, 1}}, c.profile);
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 4) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.rfind("quillmar: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
  EXPECT_EQ((r.out + r.err).find(c.profile.password), std::string::npos) << r.err;
  EXPECT_TRUE(Saved().empty());
  EXPECT_EQ(server_->Flags(id), "");
}

INSTANTIATE_TEST_SUITE_P(
    SignOn, ImapEndToEndRefused,
    ::testing::Values(RefusedCase{"WrongPassword", {"hunter2-wrong", true}, "refused"},
                      RefusedCase{"UntrustedServer", {"hunter2-kept", false}, "verified"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace qm
