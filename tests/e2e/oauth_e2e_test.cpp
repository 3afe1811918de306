// Unattended runs of the real binary ("-a", no display, no keyring) on a
// mailbox signed on to with OAuth 2.0: the test's Dovecot checks the bearer
// token at the test authorization server, which also renews it. The kept
// sign-in is in the settings file, as an earlier sign-in in the window left
// it.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "oauth/TokenSet.h"
#include "secrets/FileSecretStore.h"
#include "settings/RegFileRegistry.h"
#include "tests/e2e/EndToEnd.h"
#include "tests/support/CiSkip.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/OAuthTestServer.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;
using namespace std::chrono_literals;

class OAuthEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotServer::Installed()) QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled());
    MakeRunFolders(root_);
  }

  void StartDovecot(const std::string& mechanisms) {
    DovecotOptions options;
    options.oauth2_mechanisms = mechanisms;
    options.introspection_url = authorization_.Url("/introspect");
    dovecot_ = std::make_unique<DovecotServer>(options);
    dovecot_->Deliver(Message("Invoice", "billing@example.jp", "invoice.pdf"));
  }

  std::string Store() const {
    return "imaps://" + std::string(DovecotServer::kUser) +
           "@localhost:" + std::to_string(dovecot_->tls_port()) + "/INBOX";
  }
  fs::path SettingsFile() const { return root_ / "config/Vantrel/Quillmar.reg"; }

  // A Gmail profile whose token endpoint is the test server's.
  void WriteProfile(const std::vector<std::string>& more = {}) {
    std::vector<std::string> lines = {
        "\"Store\"=" + RegText(Store()), "\"CAFile\"=" + RegText(dovecot_->certificate().string()),
        "\"Provider\"=\"gmail\"", "\"ClientId\"=" + RegText(OAuthTestServer::kClientId),
        "\"TokenEndpoint\"=" + RegText(authorization_.Url("/token"))};
    lines.insert(lines.end(), more.begin(), more.end());
    WriteSettingsFile(SettingsFile(), {(root_ / "out").string(), "", 0, {0, 0, 0}}, lines);
  }

  // What the sign-in in the window keeps: the refresh token, and an access
  // token that expires `expires_in` from now (negative: expired).
  void KeepSignIn(const std::string& refresh_token, std::chrono::seconds expires_in) {
    RegFileRegistry registry(SettingsFile());
    FileSecretStore secrets(registry, SettingsFile().string());
    secrets.Write(SecretKind::kRefreshToken, Store(), refresh_token);
    TokenSet tokens;
    tokens.access_token = authorization_.IssueAccessToken(std::max(expires_in, 1s));
    tokens.expires_at = WallClock::now() + expires_in;
    secrets.Write(SecretKind::kAccessToken, Store(), KeepableAccessToken(tokens));
  }

  ProgramResult Run() { return RunHeadless(root_); }
  bool Saved(const char* name) const { return fs::exists(root_ / "out" / name); }

  OAuthTestServer authorization_;
  std::unique_ptr<DovecotServer> dovecot_;
  TempDir temp_;
  fs::path root_ = temp_.path();
};

TEST_F(OAuthEndToEnd, ExpiredAccessTokenIsRenewedWithEachMechanismAlone) {
  const struct {
    const char* mechanisms;
    std::chrono::seconds lifetime;  // of the renewed tokens
    int refreshes;                  // after two runs
  } cases[] = {
      {"xoauth2", 3600s, 1},
      {"oauthbearer", 3600s, 1},
      // Renewed tokens that expire within minutes are renewed again next run.
      {"oauthbearer", 120s, 2},
  };
  for (const auto& c : cases) {
    StartDovecot(c.mechanisms);
    authorization_.SetAccessLifetime(c.lifetime);
    const int before = authorization_.counts().refresh_grants;
    WriteProfile();
    KeepSignIn(authorization_.IssueRefreshToken(), -60s);
    fs::remove_all(root_ / "out");
    fs::create_directories(root_ / "out");

    const ProgramResult first = Run();
    EXPECT_EQ(first.exit_code, 0) << c.mechanisms << ": " << first.err;
    EXPECT_TRUE(Saved("invoice.pdf")) << c.mechanisms;
    EXPECT_EQ(authorization_.counts().refresh_grants, before + 1) << c.mechanisms;

    const ProgramResult second = Run();
    EXPECT_EQ(second.exit_code, 0) << c.mechanisms << ": " << second.err;
    EXPECT_EQ(authorization_.counts().refresh_grants, before + c.refreshes) << c.mechanisms;
  }
}

TEST_F(OAuthEndToEnd, RevokedSignInFailsOnceWithAClearMessage) {
  StartDovecot("xoauth2 oauthbearer");
  WriteProfile();
  const std::string refresh_token = authorization_.IssueRefreshToken();
  KeepSignIn(refresh_token, -60s);
  authorization_.RevokeRefreshTokens();

  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 4) << r.err;
  EXPECT_NE(r.err.find("sign in again from the window"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(refresh_token), std::string::npos);
  EXPECT_EQ(authorization_.counts().refresh_grants, 1);
  EXPECT_EQ(authorization_.counts().introspections, 0) << "the mail server was asked anyway";
}

TEST_F(OAuthEndToEnd, NoKeptSignInAsksForOneInTheWindow) {
  StartDovecot("xoauth2 oauthbearer");
  WriteProfile();

  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 4) << r.err;
  EXPECT_NE(r.err.find("sign in once from the window"), std::string::npos) << r.err;
  EXPECT_EQ(authorization_.counts().refresh_grants, 0);
  EXPECT_EQ(authorization_.counts().authorize, 0);
}

// A token helper instead of the kept sign-in: its output is the access
// token, and its failure is the run's.
TEST_F(OAuthEndToEnd, PasswordCommandGivesTheAccessToken) {
  StartDovecot("xoauth2");
  const std::string token = authorization_.IssueAccessToken(600s);
  WriteProfile({"\"PasswordCommand\"=" + RegText("printf '%s\\n' " + token)});
  const ProgramResult given = Run();
  EXPECT_EQ(given.exit_code, 0) << given.err;
  EXPECT_TRUE(Saved("invoice.pdf"));
  EXPECT_EQ(authorization_.counts().refresh_grants, 0);
  EXPECT_EQ(authorization_.counts().introspections, 1);

  WriteProfile({"\"PasswordCommand\"=" + RegText("echo helper is locked >&2; exit 3")});
  const ProgramResult failed = Run();
  EXPECT_EQ(failed.exit_code, 4) << failed.err;
  EXPECT_NE(failed.err.find("helper is locked"), std::string::npos) << failed.err;
  EXPECT_EQ(authorization_.counts().introspections, 1);
}

}  // namespace
}  // namespace qm
