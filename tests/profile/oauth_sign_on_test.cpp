// The OAuth side of the mail profile: which values make a usable sign-in,
// their round trip through the settings file, and the access token a
// sign-on gets from what is kept: the kept one, a renewed one, or a failure
// that says what to do.

#include <gtest/gtest.h>

#include <string>

#include "base/Failure.h"
#include "oauth/TokenSet.h"
#include "profile/MailProfile.h"
#include "profile/OAuthSignOn.h"
#include "settings/RegFileRegistry.h"
#include "tests/support/MemorySecretStore.h"
#include "tests/support/OAuthTestServer.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using testing::MemorySecretStore;
using testing::OAuthTestServer;

constexpr char kStore[] = "imaps://me%40example.com@imap.gmail.com/INBOX";

TEST(OAuthAccess, UnusableValuesAreNamed) {
  const struct {
    const char* name;
    OAuthSettings settings;
    const char* named;
  } cases[] = {
      {"UnknownProvider", {"yahoo", "id"}, "\"Provider\""},
      {"NoClientId", {"gmail", ""}, "\"ClientId\""},
      {"TenantWithSlash", {"microsoft", "id", "", "a/b"}, "\"Tenant\""},
      {"TenantWithQuery", {"microsoft", "id", "", "common?x=1"}, "\"Tenant\""},
      {"PlainHttpToken",
       {"gmail", "id", "", "", "", "http://tokens.example.com/t"},
       "\"TokenEndpoint\""},
      {"FileDevice", {"gmail", "id", "", "", "", "", "file:///etc/passwd"}, "\"DeviceEndpoint\""},
  };
  for (const auto& c : cases) {
    try {
      AccessOf(c.settings);
      ADD_FAILURE() << c.name << " accepted";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::SignOn) << c.name;
      EXPECT_EQ(failure.cause(), Cause::kNoMailbox) << c.name;
      EXPECT_NE(std::string(failure.what()).find(c.named), std::string::npos) << failure.what();
    }
  }
}

TEST(OAuthAccess, ProviderEndpointsTenantAndOverrides) {
  EXPECT_EQ(AccessOf({"Microsoft", "app", "", "contoso.onmicrosoft.com"}).endpoints.device,
            "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/devicecode");
  const OAuthAccess overridden = AccessOf(
      {"gmail", "app", "shh", "", "https://sso.example.com/auth", "http://127.0.0.1:9/t", ""});
  EXPECT_EQ(overridden.endpoints.authorization, "https://sso.example.com/auth");
  EXPECT_EQ(overridden.endpoints.token, "http://127.0.0.1:9/t");
  EXPECT_EQ(overridden.endpoints.device, "https://oauth2.googleapis.com/device/code");
  EXPECT_EQ(overridden.client.secret, "shh");
}

TEST(OAuthSettingsFile, RoundTripAndClearedByAPasswordChoice) {
  testing::TempDir dir;
  const auto file = dir / "Quillmar.reg";
  const OAuthSettings stored{"microsoft", "app-id", "", "contoso.com", "", "http://127.0.0.1:1/t",
                             ""};
  {
    RegFileRegistry registry(file);
    SaveMailProfile(registry, {kStore, "", "", stored});
  }
  {
    RegFileRegistry registry(file);
    const MailProfileValues read = ReadMailProfile(registry);
    EXPECT_EQ(read.oauth.provider, "microsoft");
    EXPECT_EQ(read.oauth.client_id, "app-id");
    EXPECT_EQ(read.oauth.tenant, "contoso.com");
    EXPECT_EQ(read.oauth.token_endpoint, "http://127.0.0.1:1/t");
    SaveMailProfile(registry, {"imaps://me@mail.example.com/INBOX", "pw", ""});
  }
  RegFileRegistry registry(file);
  EXPECT_EQ(ReadOAuthSettings(registry).provider, "");
}

class AccessToken : public ::testing::Test {
 protected:
  OAuthSettings Settings() const {
    return {"gmail", OAuthTestServer::kClientId, "", "", "", server_.Url("/token"), ""};
  }
  void KeepAccessToken(const std::string& token, std::chrono::seconds expires_in) {
    TokenSet tokens;
    tokens.access_token = token;
    tokens.expires_at = WallClock::now() + expires_in;
    secrets_.Write(SecretKind::kAccessToken, kStore, KeepableAccessToken(tokens));
  }
  OAuthTestServer server_;
  MemorySecretStore secrets_;
};

TEST_F(AccessToken, KeptTokenServesUntilItNearlyExpires) {
  const std::string refresh_token = server_.IssueRefreshToken();
  secrets_.Write(SecretKind::kRefreshToken, kStore, refresh_token);
  const struct {
    const char* name;
    std::chrono::seconds left;
    bool renewed;
  } cases[] = {
      {"HourLeft", 3600s, false},
      {"SixMinutesLeft", 360s, false},
      {"FourMinutesLeft", 240s, true},
      {"Expired", -10s, true},
  };
  for (const auto& c : cases) {
    KeepAccessToken("kept-token", c.left);
    const int before = server_.counts().refresh_grants;
    const std::string token = CurrentAccessToken(Settings(), kStore, secrets_);
    EXPECT_EQ(token != "kept-token", c.renewed) << c.name;
    EXPECT_EQ(server_.counts().refresh_grants, before + (c.renewed ? 1 : 0)) << c.name;
    if (c.renewed) {
      EXPECT_EQ(server_.LastFields("/token").at("refresh_token"), refresh_token) << c.name;
      // The renewed token is kept: the next sign-on asks nobody.
      EXPECT_EQ(CurrentAccessToken(Settings(), kStore, secrets_), token) << c.name;
      EXPECT_EQ(server_.counts().refresh_grants, before + 1) << c.name;
    }
  }
}

TEST_F(AccessToken, WithoutOrWithARefusedSignIn) {
  const struct {
    const char* name;
    bool keep_refresh_token;
    Cause cause;
    const char* words;
    int refreshes;
  } cases[] = {
      {"NothingKept", false, Cause::kSignInRequired, "sign in once from the window", 0},
      {"Revoked", true, Cause::kSignInRefused, "sign in again from the window", 1},
  };
  for (const auto& c : cases) {
    MemorySecretStore secrets;
    if (c.keep_refresh_token) {
      secrets.Write(SecretKind::kRefreshToken, kStore, "rt-revoked-long-ago");
    }
    const int before = server_.counts().refresh_grants;
    try {
      CurrentAccessToken(Settings(), kStore, secrets);
      ADD_FAILURE() << c.name << " gave a token";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::SignOn) << c.name;
      EXPECT_EQ(failure.cause(), c.cause) << c.name;
      EXPECT_NE(std::string(failure.what()).find(c.words), std::string::npos) << failure.what();
      EXPECT_EQ(std::string(failure.what()).find("rt-revoked"), std::string::npos);
    }
    EXPECT_EQ(server_.counts().refresh_grants, before + c.refreshes) << c.name;
    EXPECT_FALSE(secrets.Read(SecretKind::kAccessToken, kStore).has_value()) << c.name;
  }
}

}  // namespace
}  // namespace qm
