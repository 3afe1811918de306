#include "oauth/AuthorizationCodeFlow.h"

#include "base/Failure.h"
#include "base/WipeSecret.h"
#include "oauth/FormEncoding.h"
#include "oauth/HttpPost.h"
#include "oauth/LoopbackListener.h"
#include "oauth/Pkce.h"
#include "oauth/TokenAnswer.h"
#include "oauth/TokenRefresh.h"

namespace qm {
namespace {

constexpr std::size_t kStateBytes = 24;

}  // namespace

std::string AuthorizationUrl(const OAuthEndpoints& endpoints, const OAuthClient& client,
                             const AuthorizationRequest& request) {
  FormFields query = {{"response_type", "code"},
                      {"client_id", client.id},
                      {"redirect_uri", request.redirect_uri},
                      {"scope", endpoints.scope},
                      {"state", request.state},
                      {"code_challenge", request.code_challenge},
                      {"code_challenge_method", "S256"},
                      // Google gives a refresh token only when asked for offline access.
                      {"access_type", "offline"},
                      {"prompt", "consent"}};
  if (!request.login_hint.empty()) query.emplace_back("login_hint", request.login_hint);
  const char separator = endpoints.authorization.find('?') == std::string::npos ? '?' : '&';
  return endpoints.authorization + separator + FormEncode(query);
}

TokenSet ExchangeCode(const OAuthEndpoints& endpoints, const OAuthClient& client,
                      const std::string& code, const std::string& redirect_uri,
                      const std::string& verifier, const Cancellation* cancel) {
  FormFields fields = {{"grant_type", "authorization_code"},
                       {"code", code},
                       {"redirect_uri", redirect_uri},
                       {"code_verifier", verifier}};
  AddClientFields(client, fields);
  const HttpAnswer answer = PostForm(endpoints.token, fields, cancel);
  for (auto& field : fields) WipeSecret(field.second);
  if (const std::optional<OAuthError> error = ErrorOfAnswer(answer)) {
    throw RefusalFailure(Cause::kLoginRefused, "the provider refused the sign-in", *error);
  }
  return TokensOfAnswer(answer);
}

TokenSet SignInWithBrowser(const OAuthEndpoints& endpoints, const OAuthClient& client,
                           const std::string& login_hint, const OpenBrowser& open_browser,
                           std::chrono::milliseconds limit, const Cancellation* cancel) {
  CheckEndpointAddress(endpoints.authorization);
  CheckEndpointAddress(endpoints.token);
  LoopbackListener listener;
  const Pkce pkce = MakePkce();
  const AuthorizationRequest request{listener.RedirectUri(), RandomUrlSafe(kStateBytes),
                                     pkce.challenge, login_hint};
  if (!open_browser(AuthorizationUrl(endpoints, client, request))) {
    throw Failure(FailureKind::SignOn, Cause::kLoginRefused,
                  "no web browser could be opened for the sign-in; sign in with a code instead");
  }
  std::string code = listener.WaitForCode(request.state, limit, cancel);
  TokenSet tokens =
      ExchangeCode(endpoints, client, code, request.redirect_uri, pkce.verifier, cancel);
  WipeSecret(code);
  if (tokens.refresh_token.empty()) {
    throw Failure(FailureKind::SignOn, Cause::kLoginRefused,
                  "the provider gave no refresh token: the sign-in could not be kept");
  }
  return tokens;
}

}  // namespace qm
