// The IMAP connection and store against a real Dovecot on 127.0.0.1: TLS from
// the first byte and STARTTLS, refused certificates and host names (with no
// login attempt reaching the server), refused logins, dropped connections and
// idle timeouts, and the store's listing, fetching and marking as the server
// sees them.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Failure.h"
#include "imap/CurlImapTransport.h"
#include "imap/ImapAccount.h"
#include "imap/ImapStore.h"
#include "profile/MailProfile.h"
#include "settings/RegFileRegistry.h"
#include "tests/support/CiSkip.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/FileBytes.h"
#include "tests/support/HeldTempDir.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TrickleRelay.h"
#include "tests/support/WaitForChange.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using testing::DovecotOptions;
using testing::DovecotServer;
using testing::ReadFd;

#define SKIP_WITHOUT_DOVECOT() \
  if (!DovecotServer::Installed()) QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled())

ImapAccount Account(const DovecotServer& server, ImapSecurity security, const std::string& host,
                    const std::string& ca_file,
                    const std::string& password = DovecotServer::kPassword) {
  ImapAccount account;
  account.security = security;
  account.user = DovecotServer::kUser;
  account.host = host;
  account.port =
      security == ImapSecurity::kImplicitTls ? server.tls_port() : server.starttls_port();
  account.password = password;
  account.ca_file = ca_file;
  return account;
}

// Sends one tagged command and returns everything up to its tagged reply.
std::string Command(ImapTransport& transport, const std::string& tag, const std::string& text) {
  transport.Send(tag + " " + text + "\r\n");
  std::string reply;
  char buffer[4096];
  const auto has_tagged_line = [&] {
    return (reply.starts_with(tag + " ") || reply.find("\r\n" + tag + " ") != std::string::npos) &&
           reply.ends_with("\r\n");
  };
  while (!has_tagged_line()) reply.append(buffer, transport.Receive(buffer, sizeof buffer));
  return reply;
}

// A self-signed certificate for localhost that the server does not use.
fs::path OtherCertificate(const testing::TempDir& dir) {
  const fs::path cert = dir / "other.pem";
  const testing::ProgramResult r =
      testing::RunProgram("/usr/bin/openssl",
                          {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                           "ec_paramgen_curve:prime256v1", "-nodes", "-days", "30", "-subj",
                           "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                           "-keyout", (dir / "other.key").string(), "-out", cert.string()},
                          {{"PATH", "/usr/bin:/bin"}});
  if (r.exit_code != 0) throw std::runtime_error("openssl failed: " + r.err);
  return cert;
}

struct SecurityCase {
  const char* name;
  ImapSecurity security;
  const char* host;
};

TEST(ImapConnection, LogsInOverTlsAndStartTls) {
  SKIP_WITHOUT_DOVECOT();
  DovecotServer server;
  const SecurityCase cases[] = {
      {"tls by name", ImapSecurity::kImplicitTls, "localhost"},
      {"tls by address", ImapSecurity::kImplicitTls, "127.0.0.1"},
      {"starttls by name", ImapSecurity::kStartTls, "localhost"},
      {"starttls by address", ImapSecurity::kStartTls, "127.0.0.1"},
  };
  for (const SecurityCase& c : cases) {
    SCOPED_TRACE(c.name);
    ImapAccount account = Account(server, c.security, c.host, server.certificate().string());
    const auto transport = CurlImapTransport::Connect(account);
    EXPECT_TRUE(account.password.empty()) << "our copy of the password is kept";
    const std::string reply = Command(*transport, "t1", "STATUS INBOX (MESSAGES)");
    EXPECT_NE(reply.find("t1 OK"), std::string::npos) << reply;
  }
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Connects and expects a refusal of kind SignOn and the given cause, whose
// text holds `text` and the server's address but never the password.
void ExpectRefused(ImapAccount account, Cause cause, const std::string& text) {
  const std::string password = account.password;
  const std::string address = account.host + ":" + std::to_string(account.port);
  try {
    CurlImapTransport::Connect(account);
    ADD_FAILURE() << "connected";
  } catch (const Failure& failure) {
    const std::string what = failure.what();
    EXPECT_EQ(failure.kind(), FailureKind::SignOn) << what;
    EXPECT_EQ(failure.cause(), cause) << what;
    EXPECT_NE(what.find(text), std::string::npos) << what;
    EXPECT_EQ(what.find(password), std::string::npos) << what;
    if (text != "refused the user name or password") {
      EXPECT_NE(what.find(address), std::string::npos) << what;
    }
  }
}

enum class Trust { kSystemOnly, kServerCertificate, kOtherCertificate };

struct RefusalCase {
  const char* name;
  ImapSecurity security;
  const char* host;
  Trust trust;
};

TEST(ImapConnection, RefusesUntrustedServersBeforeAnyLoginAttempt) {
  SKIP_WITHOUT_DOVECOT();
  DovecotServer server({.cert_names = "DNS:localhost"});  // no address in the certificate
  testing::TempDir dir;
  const std::string other = OtherCertificate(dir).string();
  const RefusalCase cases[] = {
      {"tls, name not in certificate", ImapSecurity::kImplicitTls, "127.0.0.1",
       Trust::kServerCertificate},
      {"starttls, name not in certificate", ImapSecurity::kStartTls, "127.0.0.1",
       Trust::kServerCertificate},
      {"tls, system CAs only", ImapSecurity::kImplicitTls, "localhost", Trust::kSystemOnly},
      {"starttls, system CAs only", ImapSecurity::kStartTls, "localhost", Trust::kSystemOnly},
      {"tls, wrong CA file", ImapSecurity::kImplicitTls, "localhost", Trust::kOtherCertificate},
      {"starttls, wrong CA file", ImapSecurity::kStartTls, "localhost", Trust::kOtherCertificate},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t disconnects = Count(server.Log(), "Disconnected");
    const std::string ca = c.trust == Trust::kSystemOnly          ? ""
                           : c.trust == Trust::kServerCertificate ? server.certificate().string()
                                                                  : other;
    ExpectRefused(Account(server, c.security, c.host, ca, "hunter2-pass"), Cause::kServerNotTrusted,
                  "could not be verified");
    // The server saw the connection end, and no user name or password.
    testing::WaitForChange(
        server.folder(), [&] { return Count(server.Log(), "Disconnected") > disconnects; },
        std::chrono::seconds(20));
    const std::string log = server.Log();
    EXPECT_GT(Count(log, "Disconnected"), disconnects) << log;
    EXPECT_EQ(log.find(DovecotServer::kUser), std::string::npos) << log;
    EXPECT_EQ(log.find("Login:"), std::string::npos) << log;
  }
}

TEST(ImapConnection, ReportsARefusedLoginAsSuch) {
  SKIP_WITHOUT_DOVECOT();
  DovecotServer server;
  for (ImapSecurity security : {ImapSecurity::kImplicitTls, ImapSecurity::kStartTls}) {
    ExpectRefused(
        Account(server, security, "localhost", server.certificate().string(), "hunter2-wrong"),
        Cause::kLoginRefused, "refused the user name or password");
  }
  EXPECT_TRUE(server.WaitForLog("auth failed")) << server.Log();
}

TEST(ImapConnection, NeverFallsBackToPlainText) {
  SKIP_WITHOUT_DOVECOT();
  DovecotServer server({.tls = false});
  ExpectRefused(Account(server, ImapSecurity::kStartTls, "127.0.0.1", "", "hunter2-plain"),
                Cause::kServerNotTrusted, "does not offer STARTTLS");
  EXPECT_TRUE(server.WaitForLog("Disconnected")) << server.Log();
  EXPECT_EQ(server.Log().find(DovecotServer::kUser), std::string::npos) << server.Log();
}

TEST(ImapConnection, ADroppedConnectionFailsAtOnce) {
  SKIP_WITHOUT_DOVECOT();
  DovecotServer server;
  ImapAccount account =
      Account(server, ImapSecurity::kImplicitTls, "localhost", server.certificate().string());
  const auto transport = CurlImapTransport::Connect(account, {.idle = std::chrono::seconds(60)});
  server.Stop();
  const auto start = std::chrono::steady_clock::now();
  try {
    Command(*transport, "t1", "NOOP");
    Command(*transport, "t2", "NOOP");
    ADD_FAILURE() << "the commands went through";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::MailStore) << failure.what();
    EXPECT_EQ(failure.cause(), Cause::kMailServer) << failure.what();
    EXPECT_NE(std::string(failure.what()).find("localhost"), std::string::npos);
  }
  // Well before the idle timeout: the loss itself ended the wait.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(ImapConnection, ASilentServerEndsTheWaitAtTheIdleTimeout) {
  SKIP_WITHOUT_DOVECOT();
  DovecotServer server;
  ImapAccount account =
      Account(server, ImapSecurity::kStartTls, "localhost", server.certificate().string());
  const auto transport = CurlImapTransport::Connect(account, {.idle = milliseconds(300)});
  char buffer[64];
  try {
    transport->Receive(buffer, sizeof buffer);  // nothing was asked: nothing comes
    ADD_FAILURE() << "received";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::MailStore);
    EXPECT_NE(std::string(failure.what()).find("stalled"), std::string::npos) << failure.what();
  }
}

// A server that trickles a byte every 100 ms, from its first byte or once the
// sign-on is done and NOOP answers pour in, is given up: at the sign-on's
// time limit, or once a second of waiting brought fewer than 1 KiB. Each
// case has 30 seconds to end before it counts as hanging.
TEST(ImapConnection, ATricklingServerIsGivenUp) {
  SKIP_WITHOUT_DOVECOT();
  DovecotServer server;
  const struct {
    const char* name;
    std::uint64_t free_bytes;
    FailureKind kind;
    const char* words;
  } cases[] = {
      {"DuringTheSignOn", 0, FailureKind::SignOn, "did not finish within 2 seconds"},
      {"AfterTheSignOn", 16 * 1024, FailureKind::MailStore, "stalled"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TrickleRelay relay(server.tls_port(), c.free_bytes, milliseconds(100));
    ImapAccount account =
        Account(server, ImapSecurity::kImplicitTls, "localhost", server.certificate().string());
    account.port = relay.port();
    const auto started = std::chrono::steady_clock::now();
    try {
      const auto transport = CurlImapTransport::Connect(
          account, {.connect = std::chrono::seconds(2), .idle = std::chrono::seconds(1)});
      std::string noops;
      for (int i = 0; i < 500; ++i) noops += "n" + std::to_string(i) + " NOOP\r\n";
      transport->Send(noops);
      char buffer[4096];
      while (std::chrono::steady_clock::now() - started < std::chrono::seconds(30)) {
        transport->Receive(buffer, sizeof buffer);
      }
      ADD_FAILURE() << "still receiving after 30 seconds";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), c.kind) << failure.what();
      EXPECT_NE(std::string(failure.what()).find(c.words), std::string::npos) << failure.what();
    }
  }
}

// One message with one attachment named `file`.
std::string Message(const std::string& subject, const std::string& from, const std::string& file) {
  return "From: " + from + "\nSubject: " + subject +
         "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"zz\"\n\n"
         "--zz\nContent-Type: text/plain; charset=UTF-8\n\nHello.\n"
         "--zz\nContent-Type: application/octet-stream\nContent-Disposition: attachment;"
         " filename=\"" +
         file + "\"\n\ncontent of " + file + "\n--zz--\n";
}

// The store as the program opens it: through the mail profile in a settings file.
class ImapStoreOnDovecot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotServer::Installed()) QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled());
    server_.emplace();
  }

  // `secret` is the profile's line that gives the password.
  std::unique_ptr<MailStore> Open(ImapSecurity security = ImapSecurity::kImplicitTls,
                                  const std::string& secret = std::string("\"Password\"=\"") +
                                                              DovecotServer::kPassword + "\"") {
    const bool tls = security == ImapSecurity::kImplicitTls;
    std::ofstream(dir_ / "settings.reg", std::ios::binary)
        << "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\n"
        << "\"Store\"=\"" << (tls ? "imaps" : "imap") << "://" << DovecotServer::kUser
        << "@localhost:" << (tls ? server_->tls_port() : server_->starttls_port()) << "/INBOX\"\n"
        << secret << "\n"
        << "\"CAFile\"=\"" << server_->certificate().string() << "\"\n";
    RegFileRegistry registry(dir_ / "settings.reg");
    return OpenProfileStore(registry);
  }

  int Scratch() const { return dir_.fd(); }

  testing::HeldTempDir dir_;
  std::optional<DovecotServer> server_;
};

TEST_F(ImapStoreOnDovecot, APasswordCommandGivesThePasswordAndItsFailureIsClear) {
  server_->Deliver(Message("one", "a@example.com", "x.bin"), "");
  const std::string pass =
      "\"PasswordCommand\"=\"printf '%s\\\\n' " + std::string(DovecotServer::kPassword) + "\"";
  EXPECT_EQ(Open(ImapSecurity::kImplicitTls, pass)->List(), 1u);
  // A command that gives a token is the OAuth sign-on's; "password" is the default.
  const std::string explicit_password = pass + "\n\"PasswordCommandGives\"=\"password\"";
  EXPECT_EQ(Open(ImapSecurity::kImplicitTls, explicit_password)->List(), 1u);
  // The command wins over a password left in the file.
  EXPECT_EQ(Open(ImapSecurity::kImplicitTls, pass + "\n\"Password\"=\"wrong\"")->List(), 1u);

  const struct {
    const char* what;
    std::string line;
    Cause cause;
  } refusals[] = {
      {"the command fails", "\"PasswordCommand\"=\"echo 'no such entry' >&2; exit 1\"",
       Cause::kPasswordCommand},
      {"the command gives the wrong password", "\"PasswordCommand\"=\"echo wrong\"",
       Cause::kLoginRefused},
      {"an unknown kind of output", pass + "\n\"PasswordCommandGives\"=\"cookie\"",
       Cause::kNoMailbox},
  };
  for (const auto& c : refusals) {
    SCOPED_TRACE(c.what);
    try {
      Open(ImapSecurity::kImplicitTls, c.line);
      ADD_FAILURE() << "signed on";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::SignOn);
      EXPECT_EQ(failure.cause(), c.cause) << failure.what();
    }
  }
}

struct ListedMessage {
  std::string subject;
  std::string from;
  std::string flags;  // "" delivers into new/
};

TEST_F(ImapStoreOnDovecot, ListsRawJapaneseHeadersAndReadStateInDeliveryOrder) {
  const ListedMessage messages[] = {
      {"=?ISO-2022-JP?B?GyRCJDQwRkZiGyhC?=", "=?UTF-8?B?5bGx55Sw?= <yamada@abc.example>", ""},
      {"請求書 5月分", "経理 <keiri@example.jp>", "S"},
      {"=?UTF-8?B?772x776E776e776a77295biz?=\n =?UTF-8?B?5bGx?=", "Book <book@example.jp>", "F"},
      {"plain", "a@example.com", "FS"},
  };
  for (const ListedMessage& m : messages)
    server_->Deliver(Message(m.subject, m.from, "x.bin"), m.flags);
  for (ImapSecurity security : {ImapSecurity::kImplicitTls, ImapSecurity::kStartTls}) {
    const std::unique_ptr<MailStore> store = Open(security);
    ASSERT_EQ(store->List(), std::size(messages));
    for (std::size_t i = 0; i < std::size(messages); ++i) {
      SCOPED_TRACE(messages[i].subject);
      const RawHeaders headers = store->Headers(i);
      // Unfolded: the line break goes, the space stays.
      std::string unfolded = messages[i].subject;
      if (const auto fold = unfolded.find("\n "); fold != std::string::npos)
        unfolded.erase(fold, 1);
      EXPECT_EQ(headers.subject, unfolded);
      EXPECT_EQ(headers.from, messages[i].from);
      EXPECT_EQ(store->IsRead(i), messages[i].flags.find('S') != std::string::npos);
    }
  }
}

TEST_F(ImapStoreOnDovecot, FetchesWithoutMarkingAndMarksOnlyAtTheCommit) {
  const std::string a = server_->Deliver(Message("a", "a@example.com", "a.bin"));
  const std::string b = server_->Deliver(Message("b", "b@example.com", "b.bin"), "F");
  const std::string c = server_->Deliver(Message("c", "c@example.com", "c.bin"));
  {
    const std::unique_ptr<MailStore> store = Open();
    ASSERT_EQ(store->List(), 3u);
    const std::pair<std::size_t, const char*> fetches[] = {
        {0, "a.bin"}, {1, "b.bin"}, {2, "c.bin"}};
    for (const auto& [index, file] : fetches) {
      const UniqueFd message = store->OpenMessage(index, Scratch());
      ASSERT_TRUE(message.valid());
      EXPECT_NE(ReadFd(message.get()).find(std::string("content of ") + file), std::string::npos);
      store->QueueReadMark(index == 2 ? 1 : index);  // marks a and b, twice b
    }
    for (const std::string& unique : {a, b, c}) {
      EXPECT_EQ(server_->Flags(unique).find('S'), std::string::npos) << "marked before the commit";
    }
    store->CommitReadMarks();
  }
  EXPECT_EQ(server_->Flags(a), "S");
  EXPECT_EQ(server_->Flags(b), "FS");
  EXPECT_EQ(server_->Flags(c), "");
  const std::unique_ptr<MailStore> again = Open();
  ASSERT_EQ(again->List(), 3u);
  EXPECT_TRUE(again->IsRead(0));
  EXPECT_TRUE(again->IsRead(1));
  EXPECT_FALSE(again->IsRead(2));
}

TEST_F(ImapStoreOnDovecot, SkipsAMessageExpungedAfterTheListing) {
  const std::string a = server_->Deliver(Message("a", "a@example.com", "a.bin"));
  server_->Deliver(Message("b", "b@example.com", "b.bin"));
  const std::unique_ptr<MailStore> store = Open();
  ASSERT_EQ(store->List(), 2u);
  server_->Expunge(a);
  EXPECT_FALSE(store->OpenMessage(0, Scratch()).valid());
  const UniqueFd b = store->OpenMessage(1, Scratch());
  ASSERT_TRUE(b.valid());
  EXPECT_NE(ReadFd(b.get()).find("content of b.bin"), std::string::npos);
  store->QueueReadMark(1);
  store->CommitReadMarks();
}

TEST_F(ImapStoreOnDovecot, AServerStoppedMidScanFailsAtOnceAndTheNextRunCompletes) {
  std::vector<std::string> ids;
  for (const char* name : {"one", "two", "three"}) {
    ids.push_back(server_->Deliver(Message(name, "a@example.com", std::string(name) + ".bin")));
  }
  {
    const std::unique_ptr<MailStore> store = Open();
    ASSERT_EQ(store->List(), 3u);
    ASSERT_TRUE(store->OpenMessage(0, Scratch()).valid());
    store->QueueReadMark(0);
    server_->Stop();
    const auto start = std::chrono::steady_clock::now();
    try {
      store->OpenMessage(1, Scratch());
      ADD_FAILURE() << "fetched from a stopped server";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::MailStore) << failure.what();
    }
    EXPECT_THROW(store->CommitReadMarks(), Failure);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  }
  server_->Start();
  for (const std::string& id : ids) EXPECT_EQ(server_->Flags(id), "") << "marked by a failed run";

  const std::unique_ptr<MailStore> store = Open();
  ASSERT_EQ(store->List(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_FALSE(store->IsRead(i));
    ASSERT_TRUE(store->OpenMessage(i, Scratch()).valid());
    store->QueueReadMark(i);
  }
  store->CommitReadMarks();
  for (const std::string& id : ids) EXPECT_EQ(server_->Flags(id), "S");
}

}  // namespace
}  // namespace qm
