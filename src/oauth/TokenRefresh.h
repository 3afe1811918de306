#pragma once
// A new access token for a kept refresh token. One request, never repeated:
// a refused refresh token (revoked, expired, the password changed) means the
// user has to sign in again, and asking again would only be refused again.

#include <string>

#include "oauth/FormEncoding.h"
#include "oauth/OAuthProvider.h"
#include "oauth/TokenSet.h"

namespace qm {

class Cancellation;

// The new token set; its refresh token is the old one when the server sent
// none. Throws Failure(SignOn, kSignInRefused) saying to sign in again from
// the window when the server answers invalid_grant; Failure(SignOn,
// kLoginRefused) for other refusals and for servers that cannot be reached.
TokenSet RefreshTokens(const OAuthEndpoints& endpoints, const OAuthClient& client,
                       const std::string& refresh_token, const Cancellation* cancel = nullptr);

// The client's fields of every token request: its id, and its secret if any.
void AddClientFields(const OAuthClient& client, FormFields& fields);

}  // namespace qm
