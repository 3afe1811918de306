// How the IMAP connection signs on, as Dovecot's auth process logs it: a
// bearer token with OAUTHBEARER or XOAUTH2, whichever alone the server
// offers, checked by Dovecot through the test authorization server's
// introspection; a password with AUTHENTICATE PLAIN and its initial
// response (SASL-IR) rather than LOGIN; a refused token never shown.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "base/Failure.h"
#include "imap/CurlImapTransport.h"
#include "imap/ImapAccount.h"
#include "tests/support/CiSkip.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/OAuthTestServer.h"

namespace qm {
namespace {

using testing::DovecotOptions;
using testing::DovecotServer;
using testing::OAuthTestServer;

ImapAccount Account(const DovecotServer& server) {
  ImapAccount account;
  account.user = DovecotServer::kUser;
  account.host = "localhost";
  account.port = server.tls_port();
  account.ca_file = server.certificate().string();
  return account;
}

// The mechanisms the auth process was asked for, in order, each with "+IR"
// when the request brought its initial response. Dovecot's log process may
// write the auth lines after the client has its answer: a test that expects
// a request waits for its line first.
std::string MechanismsAsked(const DovecotServer& server, bool expect_request = true) {
  if (expect_request) server.WaitForLog("client in: AUTH", std::chrono::seconds(10));
  const std::string log = server.Log();
  static const std::regex kRequest(R"(client in: AUTH\t\d+\t([A-Z0-9-]+)\t([^\n]*))");
  std::string asked;
  for (std::sregex_iterator it(log.begin(), log.end(), kRequest), end; it != end; ++it) {
    if (!asked.empty()) asked += ",";
    asked += (*it)[1].str();
    if ((*it)[2].str().find("resp=") != std::string::npos) asked += "+IR";
  }
  return asked;
}

TEST(ImapSasl, BearerTokenWithTheMechanismTheServerOffers) {
  if (!DovecotServer::Installed()) QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled());
  OAuthTestServer authorization;
  const struct {
    const char* offered;
    const char* used;
  } cases[] = {
      {"xoauth2", "XOAUTH2+IR"},
      {"oauthbearer", "OAUTHBEARER+IR"},
      {"xoauth2 oauthbearer", "OAUTHBEARER+IR"},
  };
  for (const auto& c : cases) {
    DovecotOptions options;
    options.oauth2_mechanisms = c.offered;
    options.introspection_url = authorization.Url("/introspect");
    options.auth_debug = true;
    DovecotServer server(options);
    const int introspections = authorization.counts().introspections;
    ImapAccount account = Account(server);
    const std::string token = authorization.IssueAccessToken(std::chrono::seconds(60));
    SetImapBearerToken(account, token, account.ca_file);
    EXPECT_NO_THROW(CurlImapTransport::Connect(account)) << c.offered;
    EXPECT_TRUE(account.bearer_token.empty());
    EXPECT_EQ(MechanismsAsked(server), c.used) << c.offered;
    EXPECT_EQ(authorization.counts().introspections, introspections + 1) << c.offered;
  }
}

TEST(ImapSasl, RefusedTokenAndServerWithoutBearerMechanisms) {
  if (!DovecotServer::Installed()) QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled());
  OAuthTestServer authorization;
  const struct {
    const char* name;
    const char* offered;
    const char* asked;
  } cases[] = {
      {"Expired", "xoauth2 oauthbearer", "OAUTHBEARER+IR"},
      // Offered neither: nothing is tried, not even LOGIN with an empty password.
      {"PasswordsOnly", "", ""},
  };
  for (const auto& c : cases) {
    DovecotOptions options;
    options.oauth2_mechanisms = c.offered;
    options.introspection_url = authorization.Url("/introspect");
    options.auth_debug = true;
    DovecotServer server(options);
    ImapAccount account = Account(server);
    const std::string token = authorization.IssueAccessToken(std::chrono::seconds(-1));
    SetImapBearerToken(account, token, account.ca_file);
    try {
      CurlImapTransport::Connect(account);
      ADD_FAILURE() << c.name << ": signed on";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::SignOn) << c.name;
      EXPECT_NE(std::string(failure.what()).find("access token"), std::string::npos)
          << failure.what();
      EXPECT_EQ(std::string(failure.what()).find(token), std::string::npos);
    }
    EXPECT_EQ(MechanismsAsked(server, *c.asked != 0), c.asked) << c.name;
    EXPECT_EQ(server.Log().find("Login: "), std::string::npos) << c.name;
  }
}

TEST(ImapSasl, PasswordGoesWithAuthenticatePlainAndItsInitialResponse) {
  if (!DovecotServer::Installed()) QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled());
  DovecotOptions options;
  options.auth_debug = true;
  DovecotServer server(options);
  ImapAccount account = Account(server);
  account.password = DovecotServer::kPassword;
  EXPECT_NO_THROW(CurlImapTransport::Connect(account));
  EXPECT_EQ(MechanismsAsked(server), "PLAIN+IR");
}

TEST(ImapSasl, UnusableTokensAreRefusedBeforeAnyConnection) {
  for (const char* token : {"", "two words", "line\r\nbreak", "tab\there"}) {
    ImapAccount account;
    account.user = "u";
    account.host = "h";
    EXPECT_THROW(SetImapBearerToken(account, token, ""), Failure) << token;
    EXPECT_TRUE(account.bearer_token.empty());
  }
}

}  // namespace
}  // namespace qm
