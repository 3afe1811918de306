#pragma once
// Signing on to an IMAP mailbox of an OAuth 2.0 provider (Gmail, Microsoft
// 365): the profile's provider values, the tokens kept in the secret store
// under the mailbox's "Store" value, and the access token for a sign-on,
// refreshed when it is about to expire. Opening a mailbox never starts a
// sign-in in the browser: that is the window's, on the user's request.

#include <memory>
#include <string>
#include <string_view>

#include "oauth/OAuthProvider.h"
#include "oauth/TokenSet.h"
#include "profile/MailProfile.h"
#include "profile/OAuthSettings.h"
#include "store/MailStore.h"

namespace qm {

class Cancellation;
class Registry;
class SecretStore;

// The endpoints and the client a sign-in uses.
struct OAuthAccess {
  OAuthEndpoints endpoints;
  OAuthClient client;
};

// The profile's values; all empty when there are none.
OAuthSettings ReadOAuthSettings(Registry& registry);
// Writes the values of an OAuth provider; for another choice only clears a
// stored "Provider". Throws Failure(SignOn) when the store refuses.
void SaveOAuthSettings(Registry& registry, const OAuthSettings& settings);

// The provider's endpoints with the profile's overrides, and the client;
// the scope is that of the mailbox `store` (IMAP, or Microsoft Graph for a
// "graph:" value, with the shared mailboxes' permission when it names one).
// Throws Failure(SignOn, kNoMailbox) naming the value when the provider is
// unknown, the client ID is missing, the tenant is not a tenant name or an
// endpoint is not https (http only on 127.0.0.1).
OAuthAccess AccessOf(const OAuthSettings& settings, std::string_view store = {});

// Keeps a sign-in's tokens for the mailbox `store`.
void KeepSignIn(SecretStore& secrets, const std::string& store, const TokenSet& tokens);

// The access token to sign on to `store` with: the kept one while it stays
// valid a few minutes more, otherwise a refreshed one (kept for the next
// run). Throws Failure(SignOn, kSignInRequired) saying to sign in once from
// the window when no refresh token is kept; Failure(SignOn, kSignInRefused)
// when the provider refuses the kept one (see RefreshTokens).
std::string CurrentAccessToken(const OAuthSettings& settings, const std::string& store,
                               SecretStore& secrets, const Cancellation* cancel = nullptr);

// A new access token from the kept refresh token, whatever the kept access
// token says: the server refused it. Throws as CurrentAccessToken.
std::string RefreshedAccessToken(const OAuthSettings& settings, const std::string& store,
                                 SecretStore& secrets, const Cancellation* cancel = nullptr);

// Opens the IMAP mailbox of `values` with `token`, an access token.
std::unique_ptr<MailStore> OpenImapWithToken(const MailProfileValues& values, std::string token,
                                             const ImapTimeouts& timeouts,
                                             const Cancellation* cancel = nullptr);

// Opens the IMAP mailbox of `values` (an OAuth provider's) with the access
// token of CurrentAccessToken.
std::unique_ptr<MailStore> OpenOAuthImap(const MailProfileValues& values, SecretStore& secrets,
                                         const ImapTimeouts& timeouts,
                                         const Cancellation* cancel = nullptr);

}  // namespace qm
