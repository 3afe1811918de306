#pragma once
// The authorization-code sign-in for a desktop program: the user's browser
// opens the provider's page with a PKCE challenge and a random state; the
// provider sends the browser back to a listener on 127.0.0.1, and the code it
// brings is exchanged for tokens with the PKCE verifier.

#include <chrono>
#include <functional>
#include <string>

#include "oauth/OAuthProvider.h"
#include "oauth/TokenSet.h"

namespace qm {

class Cancellation;

struct AuthorizationRequest {
  std::string redirect_uri;
  std::string state;
  std::string code_challenge;
  std::string login_hint;  // the mail address, so the provider proposes it; may be empty
};

// The address to open in the browser.
std::string AuthorizationUrl(const OAuthEndpoints& endpoints, const OAuthClient& client,
                             const AuthorizationRequest& request);

// Exchanges `code` for tokens. Throws Failure(SignOn, kLoginRefused) when the
// server refuses it or answers nonsense.
TokenSet ExchangeCode(const OAuthEndpoints& endpoints, const OAuthClient& client,
                      const std::string& code, const std::string& redirect_uri,
                      const std::string& verifier, const Cancellation* cancel = nullptr);

// Opens an address in the user's browser; false when none could be started.
using OpenBrowser = std::function<bool(const std::string& url)>;

// The whole sign-in: listener, browser, redirect, exchange. The refresh
// token of the answer is required. Throws Failure(SignOn, kLoginRefused)
// when the browser cannot be opened, the redirect is refused or `limit`
// passes; a request of `cancel` ends it with a Cancelled failure.
TokenSet SignInWithBrowser(const OAuthEndpoints& endpoints, const OAuthClient& client,
                           const std::string& login_hint, const OpenBrowser& open_browser,
                           std::chrono::milliseconds limit, const Cancellation* cancel = nullptr);

}  // namespace qm
