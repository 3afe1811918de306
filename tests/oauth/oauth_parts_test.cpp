// The pieces of a sign-in that need no server: PKCE, base64url, forms, the
// allowed endpoint addresses, token answers (good, broken and hostile) and
// the kept form of an access token.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/Failure.h"
#include "oauth/FormEncoding.h"
#include "oauth/HttpPost.h"
#include "oauth/Pkce.h"
#include "oauth/TokenAnswer.h"
#include "oauth/TokenSet.h"

namespace qm {
namespace {

TEST(Pkce, ChallengeOfTheKnownVerifierAndFreshPairs) {
  EXPECT_EQ(PkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  std::set<std::string> verifiers;
  for (int i = 0; i < 20; ++i) {
    const Pkce pkce = MakePkce();
    EXPECT_EQ(pkce.verifier.size(), 43u);
    EXPECT_EQ(pkce.verifier.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    EXPECT_EQ(pkce.challenge, PkceChallenge(pkce.verifier));
    verifiers.insert(pkce.verifier);
  }
  EXPECT_EQ(verifiers.size(), 20u);
}

// RFC 4648's vectors, in the URL-safe alphabet without padding, and bytes
// whose six-bit groups are 62 and 63 (the two characters that differ).
TEST(Base64Url, EncodesTheStandardVectors) {
  const struct {
    std::string bytes;
    const char* encoded;
  } cases[] = {{"", ""},
               {"f", "Zg"},
               {"fo", "Zm8"},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg"},
               {"fooba", "Zm9vYmE"},
               {"foobar", "Zm9vYmFy"},
               {"\xfb\xff\xbf", "-_-_"},
               {std::string(1, '\0'), "AA"}};
  for (const auto& c : cases) EXPECT_EQ(Base64Url(c.bytes), c.encoded) << c.encoded;
}

TEST(Form, EncodesEveryReservedByteAndDecodesBack) {
  const FormFields fields = {
      {"redirect_uri", "http://127.0.0.1:5000/"},
      {"scope", "https://outlook.office.com/IMAP.AccessAsUser.All offline_access"},
      {"odd", "a&b=c+d%e\xe3\x81\x82"}};
  const std::string encoded = FormEncode(fields);
  EXPECT_EQ(encoded.find_first_of(" /:+"), std::string::npos) << encoded;
  const auto decoded = FormDecode(encoded);
  for (const auto& [name, value] : fields) EXPECT_EQ(decoded.at(name), value) << name;
  const auto plus = FormDecode("a=x+y&b=&=lost&c&a=second");
  EXPECT_EQ(plus.at("a"), "x y");
  EXPECT_EQ(plus.at("b"), "");
  EXPECT_EQ(plus.at("c"), "");
  EXPECT_EQ(plus.count(""), 0u);
}

TEST(EndpointAddress, HttpsAnywherePlainHttpOnLoopback) {
  const struct {
    const char* url;
    bool allowed;
  } cases[] = {
      {"https://oauth2.googleapis.com/token", true},
      {"https://login.microsoftonline.com/common/oauth2/v2.0/token", true},
      {"http://127.0.0.1:8080/token", true},
      {"http://localhost:8080/token", true},
      {"http://[::1]:8080/token", true},
      {"http://oauth2.googleapis.com/token", false},
      {"http://127.0.0.1.example.com/token", false},
      {"ftp://127.0.0.1/token", false},
      {"file:///etc/passwd", false},
      {"not a url", false},
      {"", false},
  };
  for (const auto& c : cases) {
    if (c.allowed) {
      EXPECT_NO_THROW(CheckEndpointAddress(c.url)) << c.url;
    } else {
      EXPECT_THROW(CheckEndpointAddress(c.url), Failure) << c.url;
    }
  }
}

HttpAnswer Answer(long status, const std::string& body) {
  HttpAnswer answer;
  answer.status = status;
  answer.body = body;
  return answer;
}

const WallClock::time_point kNow = WallClock::time_point(std::chrono::seconds(1'700'000'000));

TEST(TokenAnswer, UsableAnswers) {
  const struct {
    const char* name;
    std::string body;
    std::string refresh;
    long long lifetime;
  } cases[] = {
      {"Full",
       R"({"access_token":"ya29.a","refresh_token":"1//r","token_type":"Bearer","expires_in":3599})",
       "1//r", 3599},
      {"NoRefreshNoType", R"({"access_token":"a","expires_in":60})", "", 60},
      {"LifetimeAsText", R"({"access_token":"a","token_type":"bearer","expires_in":"120"})", "",
       120},
      {"LifetimeAsFraction", R"({"access_token":"a","expires_in":90.7})", "", 90},
      {"NoLifetime", R"({"access_token":"a","scope":"x","id_token":"eyJ"})", "", 3600},
  };
  for (const auto& c : cases) {
    const TokenSet tokens = TokensOfAnswer(Answer(200, c.body), kNow);
    EXPECT_FALSE(tokens.access_token.empty()) << c.name;
    EXPECT_EQ(tokens.refresh_token, c.refresh) << c.name;
    EXPECT_EQ(tokens.expires_at - kNow, std::chrono::seconds(c.lifetime)) << c.name;
  }
}

TEST(TokenAnswer, UnusableAnswersFailWithoutShowingTheBody) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const struct {
    const char* name;
    std::string body;
  } cases[] = {
      {"NotJson", "<html>proxy login</html> SECRETBODY"},
      {"Array", R"(["SECRETBODY"])"},
      {"Empty", ""},
      {"NoAccessToken", R"({"refresh_token":"SECRETBODY"})"},
      {"AccessTokenNotText", R"({"access_token":42,"refresh_token":"SECRETBODY"})"},
      {"EmptyAccessToken", R"({"access_token":"","refresh_token":"SECRETBODY"})"},
      {"SpaceInToken", R"({"access_token":"SECRET BODY"})"},
      {"LineBreakInRefresh", R"({"access_token":"a","refresh_token":"SECRET\r\nBODY"})"},
      {"OtherTokenType", R"({"access_token":"SECRETBODY","token_type":"mac"})"},
      {"NegativeLifetime", R"({"access_token":"SECRETBODY","expires_in":-5})"},
      {"EndlessLifetime", R"({"access_token":"SECRETBODY","expires_in":1e300})"},
      {"LifetimeWord", R"({"access_token":"SECRETBODY","expires_in":"soon"})"},
      {"TruncatedJson", R"({"access_token":"SECRETBODY",)"},
      {"DeepNesting", deep},
  };
  for (const auto& c : cases) {
    try {
      TokensOfAnswer(Answer(200, c.body), kNow);
      ADD_FAILURE() << c.name << " was accepted";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::SignOn) << c.name;
      EXPECT_EQ(failure.cause(), Cause::kLoginRefused) << c.name;
      EXPECT_EQ(std::string(failure.what()).find("SECRET"), std::string::npos) << c.name;
    }
  }
}

TEST(TokenAnswer, ErrorsAndTheirWords) {
  const struct {
    const char* name;
    std::string body;
    bool has_error;
    std::string code;
  } cases[] = {
      {"InvalidGrant",
       R"({"error":"invalid_grant","error_description":"Token has been expired or revoked."})",
       true, "invalid_grant"},
      {"Pending", R"({"error":"authorization_pending"})", true, "authorization_pending"},
      {"ErrorNotText", R"({"error":{"code":7}})", true, "unknown"},
      {"NoError", R"({"access_token":"a"})", false, ""},
  };
  for (const auto& c : cases) {
    const std::optional<OAuthError> error = ErrorOfAnswer(Answer(400, c.body));
    EXPECT_EQ(error.has_value(), c.has_error) << c.name;
    if (error) {
      EXPECT_EQ(error->code, c.code) << c.name;
    }
  }
  EXPECT_THROW(ErrorOfAnswer(Answer(502, "Bad Gateway")), Failure);

  const Failure shown =
      RefusalFailure(Cause::kSignInRefused, "refused",
                     {"invalid_grant", std::string("bad\r\nline") + std::string(1000, 'x')});
  const std::string text = shown.what();
  EXPECT_EQ(shown.cause(), Cause::kSignInRefused);
  EXPECT_NE(text.find("invalid_grant"), std::string::npos);
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  EXPECT_LT(text.size(), 400u);
}

// A refusal because nobody consented to the application's permissions is
// no expired sign-in: signing in again does not help, an administrator does.
TEST(TokenAnswer, ConsentRefusalsAreToldApart) {
  const struct {
    OAuthError error;
    Cause cause;
  } cases[] = {
      {{"invalid_grant", "AADSTS65001: The user or administrator has not consented to use the"
                         " application."},
       Cause::kAccessNotGranted},
      {{"access_denied", "AADSTS65004: User declined to consent to access the app."},
       Cause::kAccessNotGranted},
      {{"invalid_grant", "AADSTS90094: An administrator of Contoso has set a policy..."},
       Cause::kAccessNotGranted},
      {{"consent_required", ""}, Cause::kAccessNotGranted},
      {{"invalid_grant", "AADSTS70008: The refresh token has expired."}, Cause::kSignInRefused},
      {{"invalid_grant", "Token has been expired or revoked."}, Cause::kSignInRefused},
  };
  for (const auto& c : cases) {
    const Failure failure = RefusalFailure(Cause::kSignInRefused, "refused", c.error);
    EXPECT_EQ(failure.cause(), c.cause) << c.error.description;
    EXPECT_EQ(failure.kind(), FailureKind::SignOn);
  }
}

TEST(KeptAccessToken, RoundTripAndDamagedEntries) {
  TokenSet tokens;
  tokens.access_token = "ya29.token";
  tokens.expires_at = kNow + std::chrono::seconds(3600);
  const std::optional<KeptAccessToken> kept = ParseKeptAccessToken(KeepableAccessToken(tokens));
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->token, "ya29.token");
  EXPECT_EQ(kept->expires_at, tokens.expires_at);
  for (const char* damaged : {"", "ya29.token", "12x ya29", " ya29", "1700000000 ", "-"}) {
    EXPECT_FALSE(ParseKeptAccessToken(damaged).has_value()) << damaged;
  }
  EXPECT_TRUE(ValidFor(kNow + std::chrono::seconds(301), std::chrono::seconds(300), kNow));
  EXPECT_FALSE(ValidFor(kNow + std::chrono::seconds(300), std::chrono::seconds(300), kNow));
  EXPECT_FALSE(ValidFor(kNow - std::chrono::seconds(1), std::chrono::seconds(0), kNow));
}

}  // namespace
}  // namespace qm
