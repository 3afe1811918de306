#include "profile/OAuthSignOn.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "base/Failure.h"
#include "graph/GraphStoreValue.h"
#include "imap/CurlImapTransport.h"
#include "imap/ImapAccount.h"
#include "imap/ImapStore.h"
#include "oauth/HttpPost.h"
#include "oauth/TokenRefresh.h"
#include "profile/ProfileValue.h"
#include "secrets/SecretStore.h"

namespace qm {
namespace {

// A token that expires sooner is refreshed first: a long scan must not find
// it expired between the sign-on and the end.
constexpr std::chrono::seconds kRefreshMargin{300};

Failure Unusable(const std::string& what) {
  return Failure(FailureKind::SignOn, Cause::kNoMailbox, what);
}

bool IsTenantName(const std::string& tenant) {
  return !tenant.empty() && tenant.size() <= 100 &&
         std::all_of(tenant.begin(), tenant.end(), [](unsigned char c) {
           return std::isalnum(c) || c == '.' || c == '-' || c == '_';
         });
}

// The profile's address when it holds one, the provider's otherwise.
std::string Chosen(const std::string& override_value, std::string provider_value,
                   const char* name) {
  if (override_value.empty()) return provider_value;
  try {
    CheckEndpointAddress(override_value);
  } catch (const Failure& failure) {
    throw Unusable("the mail profile value \"" + std::string(name) + "\": " + failure.what());
  }
  return override_value;
}

Failure SignInRequired(const std::string& store) {
  return Failure(FailureKind::SignOn, Cause::kSignInRequired,
                 "the mailbox " + store +
                     " needs a sign-in with its provider: sign in once from the window (start"
                     " quillmar without -a, open the mailbox settings and press \"Sign in with"
                     " the browser\" or \"Sign in with a code\"); later runs, unattended ones"
                     " too, keep the sign-in fresh by themselves");
}

std::optional<std::string> KeptValidToken(SecretStore& secrets, const std::string& store) {
  std::optional<std::string> kept = secrets.Read(SecretKind::kAccessToken, store);
  if (!kept) return std::nullopt;
  std::optional<KeptAccessToken> parsed = ParseKeptAccessToken(*kept);
  WipeSecret(*kept);
  if (!parsed || !ValidFor(parsed->expires_at, kRefreshMargin)) return std::nullopt;
  return std::move(parsed->token);
}

}  // namespace

OAuthSettings ReadOAuthSettings(Registry& registry) {
  const auto read = [&](const char* name) { return ReadProfileText(registry, name).value_or(""); };
  return {read(kMailProviderValue),
          read(kMailClientIdValue),
          read(kMailClientSecretValue),
          read(kMailTenantValue),
          read(kMailAuthorizationEndpointValue),
          read(kMailTokenEndpointValue),
          read(kMailDeviceEndpointValue)};
}

void SaveOAuthSettings(Registry& registry, const OAuthSettings& settings) {
  if (settings.provider.empty()) {
    if (ReadProfileText(registry, kMailProviderValue)) {
      WriteProfileTexts(registry, {{kMailProviderValue, ""}});
    }
    return;
  }
  WriteProfileTexts(registry, {{kMailProviderValue, settings.provider},
                               {kMailClientIdValue, settings.client_id},
                               {kMailClientSecretValue, settings.client_secret},
                               {kMailTenantValue, settings.tenant},
                               {kMailAuthorizationEndpointValue, settings.authorization_endpoint},
                               {kMailTokenEndpointValue, settings.token_endpoint},
                               {kMailDeviceEndpointValue, settings.device_endpoint}});
}

OAuthAccess AccessOf(const OAuthSettings& settings, std::string_view store) {
  const std::optional<OAuthProvider> provider = ProviderNamed(settings.provider);
  if (!provider) {
    throw Unusable("the mail profile value \"Provider\" (\"" + settings.provider +
                   "\") names no provider; use \"gmail\" or \"microsoft\", or leave it empty");
  }
  if (settings.client_id.empty()) {
    throw Unusable(
        "the mail profile value \"ClientId\" is empty: enter the client ID of the"
        " application registered with the provider (see the README)");
  }
  if (!settings.tenant.empty() && !IsTenantName(settings.tenant)) {
    throw Unusable("the mail profile value \"Tenant\" (\"" + settings.tenant +
                   "\") is not a tenant name or ID");
  }
  OAuthEndpoints own = ProviderEndpoints(*provider, settings.tenant);
  if (IsGraphStoreValue(store)) {
    if (*provider != OAuthProvider::kMicrosoft) {
      throw Unusable(
          "a \"graph:\" mailbox is a Microsoft 365 one: the mail profile value"
          " \"Provider\" must be \"microsoft\"");
    }
    own.scope = MicrosoftGraphScope(!GraphMailboxOf(store).empty());
  }
  OAuthAccess access;
  access.endpoints = {
      Chosen(settings.authorization_endpoint, own.authorization, kMailAuthorizationEndpointValue),
      Chosen(settings.token_endpoint, own.token, kMailTokenEndpointValue),
      Chosen(settings.device_endpoint, own.device, kMailDeviceEndpointValue), own.scope};
  access.client = {settings.client_id, settings.client_secret};
  return access;
}

void KeepSignIn(SecretStore& secrets, const std::string& store, const TokenSet& tokens) {
  if (!tokens.refresh_token.empty()) {
    secrets.Write(SecretKind::kRefreshToken, store, tokens.refresh_token);
  }
  std::string kept = KeepableAccessToken(tokens);
  secrets.Write(SecretKind::kAccessToken, store, kept);
  WipeSecret(kept);
}

std::string CurrentAccessToken(const OAuthSettings& settings, const std::string& store,
                               SecretStore& secrets, const Cancellation* cancel) {
  AccessOf(settings, store);
  if (std::optional<std::string> token = KeptValidToken(secrets, store)) return std::move(*token);
  return RefreshedAccessToken(settings, store, secrets, cancel);
}

std::string RefreshedAccessToken(const OAuthSettings& settings, const std::string& store,
                                 SecretStore& secrets, const Cancellation* cancel) {
  const OAuthAccess access = AccessOf(settings, store);
  std::optional<std::string> refresh_token = secrets.Read(SecretKind::kRefreshToken, store);
  if (!refresh_token || refresh_token->empty()) throw SignInRequired(store);
  TokenSet tokens;
  try {
    tokens = RefreshTokens(access.endpoints, access.client, *refresh_token, cancel);
  } catch (...) {
    WipeSecret(*refresh_token);
    throw;
  }
  WipeSecret(*refresh_token);
  KeepSignIn(secrets, store, tokens);
  return tokens.access_token;
}

std::unique_ptr<MailStore> OpenImapWithToken(const MailProfileValues& values, std::string token,
                                             const ImapTimeouts& timeouts,
                                             const Cancellation* cancel) {
  ImapAccount account = ParseImapStore(values.store);
  SetImapBearerToken(account, std::move(token), values.ca_file);
  std::unique_ptr<ImapTransport> transport = CurlImapTransport::Connect(account, timeouts, cancel);
  return std::make_unique<ImapStore>(std::move(transport), account.mailbox);
}

std::unique_ptr<MailStore> OpenOAuthImap(const MailProfileValues& values, SecretStore& secrets,
                                         const ImapTimeouts& timeouts, const Cancellation* cancel) {
  return OpenImapWithToken(values, CurrentAccessToken(values.oauth, values.store, secrets, cancel),
                           timeouts, cancel);
}

}  // namespace qm
