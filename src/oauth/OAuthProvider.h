#pragma once
// The mail providers that want OAuth 2.0, and where their endpoints are.
// Google's desktop clients carry a client secret, Microsoft's public clients
// none; Microsoft's endpoints name a tenant ("common" for any account).

#include <optional>
#include <string>
#include <string_view>

namespace qm {

enum class OAuthProvider { kGoogle, kMicrosoft };

struct OAuthEndpoints {
  std::string authorization;  // where the browser signs in
  std::string token;          // code exchange, refresh, device polling
  std::string device;         // device authorization
  std::string scope;          // space-separated
};

// The IMAP server a provider's mailboxes live on.
struct ProviderServer {
  std::string host;
  int port = 993;
};

// The application as registered with the provider.
struct OAuthClient {
  std::string id;
  std::string secret;  // empty for a public client
};

// "gmail" and "microsoft" (any letter case); nothing for other names, which
// are not OAuth providers.
std::optional<OAuthProvider> ProviderNamed(std::string_view name);

// The provider's endpoints and scope; `tenant` counts for Microsoft only
// (empty: "common").
OAuthEndpoints ProviderEndpoints(OAuthProvider provider, const std::string& tenant);
ProviderServer ProviderImapServer(OAuthProvider provider);

// The scope of a Microsoft 365 mailbox read through Microsoft Graph: reading
// and marking mail read, and other users' mailboxes the user may read with
// `shared_mailbox`; with a refresh token.
std::string MicrosoftGraphScope(bool shared_mailbox);

}  // namespace qm
