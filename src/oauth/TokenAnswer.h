#pragma once
// The JSON answers of an OAuth token endpoint: a token set, or an error code
// with the provider's words. Neither the tokens nor the rest of the body are
// ever part of a failure's text.

#include <optional>
#include <string>

#include "base/Failure.h"
#include "oauth/HttpPost.h"
#include "oauth/TokenSet.h"

namespace qm {

struct OAuthError {
  std::string code;         // "invalid_grant", "authorization_pending", ...
  std::string description;  // the provider's words, possibly empty
};

// The error an answer carries ("error" member), or nothing when it carries
// none. Throws Failure(SignOn, kLoginRefused) when the body is not a JSON
// object.
std::optional<OAuthError> ErrorOfAnswer(const HttpAnswer& answer);

// The token set of a successful answer, its expiry counted from `now`.
// Throws Failure(SignOn, kLoginRefused) when the answer is not JSON, has no
// access token, a token type other than Bearer, or an unusable expiry.
TokenSet TokensOfAnswer(const HttpAnswer& answer, WallClock::time_point now = WallClock::now());

// True when the provider refused because nobody (or no administrator) has
// consented to the application's permissions: no sign-in again helps.
bool IsConsentRefusal(const OAuthError& error);

// "<what>: <code> (<description>)" as a sign-on failure of `cause` (of
// kAccessNotGranted for a consent refusal); the
// provider's words are cut short and stripped of control characters.
Failure RefusalFailure(Cause cause, const std::string& what, const OAuthError& error);

}  // namespace qm
