// The whole job through the real binary over IMAP, headless with "-a": a
// private Dovecot holds the same messages as the Maildir end-to-end test, and
// the same selections must save the same files; marks, a second unread-only
// run and refused sign-ons are checked on the server.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "tests/e2e/EndToEnd.h"
#include "tests/support/CiSkip.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/ScriptedImapServer.h"
#include "tests/support/TcpRelay.h"
#include "tests/support/TempDir.h"
#include "tests/support/TmpfsMount.h"
#include "tests/support/TrickleRelay.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;

struct Profile {
  std::string password = DovecotServer::kPassword;
  bool trust_server = true;  // CAFile names the server's certificate
};

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
    if (server_ == nullptr) QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled());
    for (const char* sub : {"cur", "new"}) {
      for (const auto& e : fs::directory_iterator(server_->maildir() / sub)) fs::remove(e.path());
    }
    MakeRunFolders(root_);
  }

  void WriteSettings(const StoredSettings& s, const Profile& profile = {}) {
    const std::string store = "imaps://" + std::string(DovecotServer::kUser) +
                              "@localhost:" + std::to_string(server_->tls_port()) + "/INBOX";
    const std::string ca = profile.trust_server ? server_->certificate().string() : "";
    WriteSettingsFile(root_ / "config/Vantrel/Quillmar.reg", s,
                      {"\"Store\"=" + RegText(store), "\"Password\"=" + RegText(profile.password),
                       "\"CAFile\"=" + RegText(ca)});
  }

  ProgramResult Run() { return RunHeadless(root_); }

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

class ImapEndToEndSelection : public ImapEndToEnd,
                              public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(ImapEndToEndSelection, SavesTheSameFilesAsFromAMaildir) {
  for (const Delivery& d : SelectionInbox()) server_->Deliver(d.bytes, d.seen ? "S" : "");
  const SelectionCase& c = GetParam();
  WriteSettings({Out().string(), c.keyword, c.item, c.opt});

  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // Nothing but, with 自動終了, the line that tells what the run did.
  if (c.opt[2] == 1) {
    EXPECT_TRUE(IsSummaryOnly(r)) << r.out << r.err;
  } else {
    EXPECT_EQ(r.out + r.err, "");
  }
  EXPECT_EQ(Saved(), Attachments(c.saved));
  EXPECT_TRUE(fs::is_empty(root_ / "tmp")) << "temporary files left behind";
}

INSTANTIATE_TEST_SUITE_P(Scan, ImapEndToEndSelection, ::testing::ValuesIn(SelectionCases()),
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

// Messages were downloaded into a private folder under TMPDIR, and their
// attachments written there too: a small or RAM file system there limited
// what could be saved.
TEST_F(ImapEndToEnd, TemporaryFolderOnASmallFileSystemTakesNoMessage) {
  const TmpfsMount small_tmp(root_ / "tmp", 1 << 20);
  if (!small_tmp.mounted()) QM_SKIP_OUTSIDE_CI("cannot mount a tmpfs: " + small_tmp.error());
  server_->Deliver(BigMessage("big.bin", 4 << 20));
  WriteSettings({Out().string(), "", 0, {0, 0, 1}});
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  ASSERT_TRUE(fs::exists(Out() / "big.bin"));
  EXPECT_EQ(fs::file_size(Out() / "big.bin"), BigAttachmentSize(4 << 20));
  EXPECT_TRUE(fs::is_empty(root_ / "tmp"));
}

// With COMPRESS=DEFLATE (a server with imap_zlib) and without it, the same
// mailbox gives the same files; compressed, fewer bytes cross the wire.
TEST_F(ImapEndToEnd, CompressedOrNotTheSameFilesArrive) {
  DovecotServer compressing({.compress = true});
  std::map<std::string, std::uint64_t> wire_bytes;
  std::map<std::string, std::map<std::string, std::string>> files;
  for (DovecotServer* server : {server_, &compressing}) {
    const std::string name = server == server_ ? "plain" : "compressed";
    for (const Delivery& d : SelectionInbox()) server->Deliver(d.bytes, d.seen ? "S" : "");
    server->Deliver(BigMessage("big.bin", 1 << 20));  // base64: compresses well
    TcpRelay relay(server->tls_port());
    const TempDir run;
    MakeRunFolders(run.path());
    WriteSettingsFile(run / "config/Vantrel/Quillmar.reg",
                      {(run / "out").string(), "", 0, {1, 0, 1}},
                      {"\"Store\"=" + RegText("imaps://" + std::string(DovecotServer::kUser) +
                                              "@localhost:" + std::to_string(relay.port())),
                       "\"Password\"=" + RegText(DovecotServer::kPassword),
                       "\"CAFile\"=" + RegText(server->certificate().string())});
    const ProgramResult r = RunHeadless(run.path());
    EXPECT_EQ(r.exit_code, 0) << name << ": " << r.err;
    for (const auto& e : fs::directory_iterator(run / "out")) {
      files[name][e.path().filename().string()] = ReadFile(e.path());
    }
    wire_bytes[name] = relay.bytes_to_client();
  }
  EXPECT_EQ(files["compressed"], files["plain"]);
  EXPECT_EQ(files["plain"].size(), 5u);
  EXPECT_LT(wire_bytes["compressed"] * 2, wire_bytes["plain"]) << "was the stream compressed?";
}

// A message that begins with an mbox "From " line (appended so by a
// migration tool) gives its file over IMAP as it does from a Maildir.
TEST_F(ImapEndToEnd, MessageStartingWithAnMboxFromLineGivesItsFile) {
  server_->Deliver(ReadFile(fs::path(QM_MIME_TEST_DATA) / "mbox-from-line-first.eml"));
  WriteSettings({Out().string(), "s", 0, {0, 0, 1}});  // its subject
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Saved(), (std::map<std::string, std::string>{{"r.pdf", "%PDF-1.4 scanned"}}));
}

// A server's refusal that would clear the terminal, retitle it and turn the
// line around reaches stderr with those characters shown as escapes.
TEST(ImapServerWords, TerminalEscapesInARefusalArePrintedEscaped) {
  const ScriptedImapServer server(
      "\x1b[2J\x1b]0;owned\x07 \xe2\x80\xae"
      "gnp.exe \xff\xc2\x9b"
      "31m 拒否");
  const TempDir run;
  MakeRunFolders(run.path());
  WriteSettingsFile(
      run / "config/Vantrel/Quillmar.reg", {(run / "out").string(), "", 0, {0, 0, 1}},
      {"\"Store\"=" + RegText(server.StoreValue()), "\"Password\"=" + RegText("secret"),
       "\"CAFile\"=" + RegText(server.certificate().string())});
  const ProgramResult r = RunHeadless(run.path());
  EXPECT_NE(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("\\x1b[2J\\x1b]0;owned\\x07 \\u202egnp.exe \\xff\\u009b31m 拒否"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find_first_of(std::string("\x1b\x07\xff", 3)), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("\xe2\x80\xae"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("\xc2\x9b"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// A server that trickles a byte every 100 ms, from its first byte or once a
// message body is under way, ends an unattended run within the profile's
// "ServerTimeLimit" (2 seconds here) instead of keeping it alive: one error
// line, the sign-on's exit code or the scan's, and nothing marked read.
TEST_F(ImapEndToEnd, ATricklingServerEndsTheRunWithinItsTimeLimit) {
  const std::string id = server_->Deliver(BigMessage("big.bin", 1 << 20));
  const struct {
    const char* name;
    std::uint64_t free_bytes;
    int exit_code;
    const char* words;
  } cases[] = {
      {"FromTheFirstByte", 0, 4, "did not finish within 2 seconds"},
      {"WhileABodyComes", 64 << 10, 5, "stalled"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TrickleRelay relay(server_->tls_port(), c.free_bytes, std::chrono::milliseconds(100));
    const TempDir run;
    MakeRunFolders(run.path());
    WriteSettingsFile(
        run / "config/Vantrel/Quillmar.reg", {(run / "out").string(), "", 0, {0, 1, 1}},
        {"\"Store\"=" + RegText("imaps://" + std::string(DovecotServer::kUser) +
                                "@localhost:" + std::to_string(relay.port())),
         "\"Password\"=" + RegText(DovecotServer::kPassword),
         "\"CAFile\"=" + RegText(server_->certificate().string()), "\"ServerTimeLimit\"=\"2\""});
    const ProgramResult r = RunHeadless(run.path());
    EXPECT_FALSE(r.timed_out) << "the run did not end";
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.err.rfind("quillmar: error ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.words), std::string::npos) << r.err;
    EXPECT_EQ(server_->Flags(id), "");
  }
}

struct RefusedCase {
  const char* name;
  Profile profile;
  const char* text;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

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
