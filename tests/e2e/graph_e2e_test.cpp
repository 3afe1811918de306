// Unattended runs of the real binary ("-a", no display, no keyring) on a
// Microsoft 365 mailbox read through Microsoft Graph: the project's Graph
// server over TLS, checking each bearer token at the test authorization
// server, which also renews it. The same mailbox read over IMAP (Dovecot)
// must give the same files, under the same names, with the same bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "oauth/TokenSet.h"
#include "secrets/FileSecretStore.h"
#include "settings/RegFileRegistry.h"
#include "tests/e2e/EndToEnd.h"
#include "tests/support/CiSkip.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/GraphTestServer.h"
#include "tests/support/OAuthTestServer.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;
using namespace std::chrono_literals;

constexpr char kGraphScope[] = "https://graph.microsoft.com/Mail.ReadWrite offline_access";

// Every file of a folder, by name.
std::map<std::string, std::string> FilesIn(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) files[entry.path().filename().string()] = ReadFile(entry.path());
  }
  return files;
}

// A message whose file Exchange does not count as an attachment: a document
// sent inline, as some mailers send a PDF.
std::string InlineDocumentMessage() {
  return "From: Scanner <scan@example.jp>\nSubject: inline\nMIME-Version: 1.0\n"
         "Content-Type: multipart/mixed; boundary=\"mm\"\n\n--mm\n"
         "Content-Type: text/plain; charset=UTF-8\n\nThe scan.\n--mm\n"
         "Content-Type: application/pdf; name=\"inline-scan.pdf\"\n"
         "Content-Disposition: inline; filename=\"inline-scan.pdf\"\n"
         "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQgaW5saW5l\n--mm--\n";
}

// Nor this: a file uuencoded into a plain-text body, as old scanners send.
std::string UuencodedMessage() {
  return "From: Old Mailer <old@example.jp>\nSubject: uu\n\nSee the file.\n\n"
         "begin 644 report.txt\n#86)C\n`\nend\n";
}

// The hostile and Japanese names of the IMAP and scan tests, as one mailbox.
std::vector<std::string> Corpus() {
  std::vector<std::string> mail = {
      Message("請求書 5月分", "経理 <keiri@example.jp>", "%E8%A6%8B%E7%A9%8D%E6%9B%B8.pdf"),
      Message("=?ISO-2022-JP?B?GyRCOC0lNSUkJUkbKEI=?=", "=?UTF-8?B?5bGx55Sw?= <y@example.jp>",
              "%F0%A0%AE%B7%E9%87%8E%E5%AE%B6.txt"),
      Message("traversal", "a@example.com", "..%2F..%2Fevil.txt"),
      Message("device name", "a@example.com", "CON"),
      Message("reserved characters", "a@example.com", "a%3Cb%3E%3A%22c%22%7C.txt"),
      Message("same name 1", "a@example.com", "scan.pdf"),
      Message("same name 2", "b@example.com", "scan.pdf"),
      Message("no file", "a@example.com", ""),
      InlineDocumentMessage(),
      UuencodedMessage(),
  };
  for (const char* file :
       {"winmail/winmail-with-empty-file.eml", "winmail/winmail-damaged-after-first-file.eml",
        "base64-encoded-attached-message.eml", "mbox-from-line-first.eml"}) {
    mail.push_back(ReadFile(fs::path(QM_MIME_TEST_DATA) / file));
  }
  return mail;
}

// Exchange lists by arrival: the copies get the delivery order as their
// times, a second apart.
void ArriveInOrder(const fs::path& maildir, const std::vector<std::string>& uniques) {
  const auto start = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (std::size_t i = 0; i < uniques.size(); ++i) {
    for (const char* sub : {"cur", "new"}) {
      for (const auto& entry : fs::directory_iterator(maildir / sub)) {
        if (entry.path().filename().string().starts_with(uniques[i])) {
          fs::last_write_time(entry.path(), start + std::chrono::seconds(i));
        }
      }
    }
  }
}

class GraphEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { MakeRunFolders(root_); }

  void StartGraph(const fs::path& maildir) {
    GraphServerOptions options;
    options.maildir = maildir;
    options.introspection_url = authorization_.Url("/introspect");
    graph_ = std::make_unique<GraphTestServer>(options);
  }

  fs::path SettingsFile() const { return root_ / "config/Vantrel/Quillmar.reg"; }
  fs::path Out() const { return root_ / "out"; }

  // Every message, read or not; ends after the scan.
  void WriteGraphProfile(const std::string& store = "graph:",
                         const std::vector<std::string>& more = {}) {
    std::vector<std::string> lines = {"\"Store\"=" + RegText(store),
                                      "\"Provider\"=\"microsoft\"",
                                      "\"ClientId\"=" + RegText(OAuthTestServer::kClientId),
                                      "\"TokenEndpoint\"=" + RegText(authorization_.Url("/token")),
                                      "\"GraphEndpoint\"=" + RegText(graph_->ApiRoot()),
                                      "\"CAFile\"=" + RegText(graph_->CaFile())};
    lines.insert(lines.end(), more.begin(), more.end());
    WriteSettingsFile(SettingsFile(), {Out().string(), "", 0, {1, 0, 1}}, lines);
  }

  // What a sign-in in the window keeps: the refresh token, and an access
  // token that the program takes as valid until `kept_until` from now while
  // the server accepts it for `lifetime`.
  void KeepSignIn(const std::string& store, std::chrono::seconds kept_until,
                  std::chrono::seconds lifetime, const std::string& scope = kGraphScope) {
    RegFileRegistry registry(SettingsFile());
    FileSecretStore secrets(registry, SettingsFile().string());
    secrets.Write(SecretKind::kRefreshToken, store, authorization_.IssueRefreshToken(scope));
    TokenSet tokens;
    tokens.access_token = authorization_.IssueAccessToken(lifetime, scope);
    tokens.expires_at = WallClock::now() + kept_until;
    secrets.Write(SecretKind::kAccessToken, store, KeepableAccessToken(tokens));
  }

  void EmptyOut() {
    fs::remove_all(Out());
    fs::create_directories(Out());
  }

  OAuthTestServer authorization_;
  std::unique_ptr<GraphTestServer> graph_;
  TempDir temp_;
  fs::path root_ = temp_.path();
};

TEST_F(GraphEndToEnd, SameFilesNamesAndBytesAsOverImap) {
  if (!DovecotServer::Installed()) QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled());
  DovecotServer dovecot;
  std::vector<std::string> delivered;
  for (const std::string& message : Corpus()) delivered.push_back(dovecot.Deliver(message));
  const fs::path copy = root_ / "graph-maildir";
  fs::copy(dovecot.maildir(), copy, fs::copy_options::recursive);
  ArriveInOrder(copy, delivered);

  WriteSettingsFile(
      SettingsFile(), {Out().string(), "", 0, {1, 0, 1}},
      {"\"Store\"=" + RegText("imaps://" + std::string(DovecotServer::kUser) +
                              "@localhost:" + std::to_string(dovecot.tls_port()) + "/INBOX"),
       "\"Password\"=" + RegText(DovecotServer::kPassword),
       "\"CAFile\"=" + RegText(dovecot.certificate().string())});
  const ProgramResult imap = RunHeadless(root_);
  ASSERT_TRUE(imap.exit_code == 0 || imap.exit_code == 7) << imap.err;
  const std::map<std::string, std::string> over_imap = FilesIn(Out());

  StartGraph(copy);
  WriteGraphProfile();
  KeepSignIn("graph:", 3600s, 3600s);
  EmptyOut();
  const ProgramResult graph = RunHeadless(root_);
  EXPECT_EQ(graph.exit_code, imap.exit_code) << graph.err;
  const std::map<std::string, std::string> over_graph = FilesIn(Out());

  for (const char* name : {"見積書.pdf", "𠮷野家.txt", "evil.txt", "_CON", "scan.pdf",
                           "inline-scan.pdf", "report.txt", "r.pdf"}) {
    EXPECT_TRUE(over_imap.contains(name)) << name;
  }
  EXPECT_EQ(over_graph, over_imap);
  // Exchange says "no attachments" for the inline document and the
  // uuencoded file; they came anyway: each message asked for once, on its
  // own or in a batch.
  const std::vector<std::string> log = graph_->Log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) { return line.ends_with("/$value"); }),
            static_cast<long>(Corpus().size()));
  EXPECT_GE(graph_->counts().batches, 1);
}

TEST_F(GraphEndToEnd, ExpiredTokensAreRenewedAndTheMessagesMarkedRead) {
  const fs::path maildir = root_ / "Maildir";
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir / sub);
  for (int i = 0; i < 3; ++i) {
    const std::string file = "invoice" + std::to_string(i) + ".pdf";
    std::ofstream(maildir / "new" / ("100" + std::to_string(i) + ".m.host"), std::ios::binary)
        << Message("Invoice", "billing@example.jp", file);
  }
  StartGraph(maildir);
  const struct {
    const char* what;
    std::chrono::seconds kept_until;  // as the program believes
    std::chrono::seconds lifetime;    // as the server has it
    int refused_by_graph;
  } cases[] = {
      {"kept token expired", -60s, 1s, 0},
      {"kept token refused by Graph although not yet expired", 3600s, 1s, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteGraphProfile();
    KeepSignIn("graph:", c.kept_until, c.lifetime);
    std::this_thread::sleep_for(2s);  // the server's token has expired
    EmptyOut();
    const int refreshes = authorization_.counts().refresh_grants;
    const int refused = graph_->counts().unauthorized;
    const ProgramResult r = RunHeadless(root_);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(FilesIn(Out()).size(), 3u);
    EXPECT_EQ(authorization_.counts().refresh_grants, refreshes + 1);
    EXPECT_EQ(graph_->counts().unauthorized, refused + c.refused_by_graph);
  }
  EXPECT_EQ(SeenIn(maildir).size(), 3u);
}

TEST_F(GraphEndToEnd, FailuresSayWhatIsWrongAndTouchNothing) {
  const fs::path maildir = root_ / "Maildir";
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir / sub);
  std::ofstream(maildir / "new/1.m.host", std::ios::binary)
      << Message("Invoice", "billing@example.jp", "invoice.pdf");
  StartGraph(maildir);
  const struct {
    const char* what;
    std::string store;
    std::string scope;
    bool throttle;
    int exit_code;
    const char* error;
  } cases[] = {
      {"the token lacks the permission", "graph:", "https://graph.microsoft.com/User.Read", false,
       4, "error 32003"},
      {"no such shared mailbox", "graph:nobody@example.jp",
       "https://graph.microsoft.com/Mail.ReadWrite.Shared", false, 4, "error 32023"},
      {"throttled for longer than a scan waits", "graph:", kGraphScope, true, 5, "error 32002"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteGraphProfile(c.store);
    KeepSignIn(c.store, 3600s, 3600s, c.scope);
    if (c.throttle) graph_->Throttle("/messages", 1, 429, 3600);
    EmptyOut();
    const ProgramResult r = RunHeadless(root_);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_TRUE(FilesIn(Out()).empty());
    EXPECT_TRUE(SeenIn(maildir).empty());
  }
}

}  // namespace
}  // namespace qm
