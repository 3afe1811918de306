#include "oauth/TokenRefresh.h"

#include "base/Failure.h"
#include "base/WipeSecret.h"
#include "oauth/HttpPost.h"
#include "oauth/TokenAnswer.h"

namespace qm {

void AddClientFields(const OAuthClient& client, FormFields& fields) {
  fields.emplace_back("client_id", client.id);
  if (!client.secret.empty()) fields.emplace_back("client_secret", client.secret);
}

TokenSet RefreshTokens(const OAuthEndpoints& endpoints, const OAuthClient& client,
                       const std::string& refresh_token, const Cancellation* cancel) {
  FormFields fields = {{"grant_type", "refresh_token"}, {"refresh_token", refresh_token}};
  AddClientFields(client, fields);
  const HttpAnswer answer = PostForm(endpoints.token, fields, cancel);
  for (auto& field : fields) WipeSecret(field.second);
  if (const std::optional<OAuthError> error = ErrorOfAnswer(answer)) {
    if (error->code == "invalid_grant") {
      throw RefusalFailure(Cause::kSignInRefused,
                           "the provider no longer accepts the kept sign-in; sign in again from"
                           " the window (start quillmar without -a, open the mailbox settings and"
                           " press \"Sign in with the browser\" or \"Sign in with a code\")",
                           *error);
    }
    throw RefusalFailure(Cause::kLoginRefused, "the provider refused to renew the sign-in", *error);
  }
  TokenSet tokens = TokensOfAnswer(answer);
  if (tokens.refresh_token.empty()) tokens.refresh_token = refresh_token;
  return tokens;
}

}  // namespace qm
