#include "profile/GraphSignOn.h"

#include "base/CaBundle.h"
#include "base/Failure.h"
#include "graph/GraphConnection.h"
#include "graph/GraphStore.h"
#include "graph/GraphStoreValue.h"
#include "oauth/HttpPost.h"
#include "profile/OAuthSignOn.h"
#include "profile/ProfileValue.h"
#include "secrets/PasswordCommand.h"
#include "secrets/SecretStore.h"
#include "settings/Registry.h"

namespace qm {
namespace {

constexpr char kGraphRoot[] = "https://graph.microsoft.com/v1.0";

std::string ApiRoot(Registry& registry) {
  const std::string chosen = ReadProfileText(registry, kMailGraphEndpointValue).value_or("");
  if (chosen.empty()) return kGraphRoot;
  try {
    CheckEndpointAddress(chosen);
  } catch (const Failure& failure) {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "the mail profile value \"" + std::string(kMailGraphEndpointValue) +
                      "\": " + failure.what());
  }
  return chosen;
}

GraphConnectionOptions OptionsOf(Registry& registry, const MailProfileValues& values) {
  const ImapTimeouts limits = ReadImapTimeouts(registry);
  GraphConnectionOptions options;
  options.timeouts = {limits.connect, limits.idle, limits.least_bytes};
  if (!values.ca_file.empty()) options.ca_pem = CaBundle(values.ca_file);
  return options;
}

// The token a "PasswordCommand" gives: asked again when Graph refuses it.
GraphConnection::TokenSource CommandTokens(std::string command, const Cancellation* cancel) {
  return [command = std::move(command), cancel](bool) {
    return RunPasswordCommand(command, kPasswordCommandTimeLimit, cancel);
  };
}

// The kept sign-in's token; a refused one is refreshed. The refresh may
// come long after the sign-on, when the settings store the store was opened
// with has gone: it opens the settings store afresh.
GraphConnection::TokenSource SignInTokens(Registry& registry, const MailProfileValues& values,
                                          const Cancellation* cancel) {
  OAuthSettings settings = values.oauth;
  if (settings.provider.empty()) settings.provider = "microsoft";
  const std::string first =
      CurrentAccessToken(settings, values.store, *OpenSecretStore(registry), cancel);
  return [first, settings, store = values.store, cancel](bool renew) {
    if (!renew) return first;
    const std::unique_ptr<Registry> again = OpenPlatformRegistry();
    return RefreshedAccessToken(settings, store, *OpenSecretStore(*again), cancel);
  };
}

}  // namespace

std::unique_ptr<MailStore> OpenGraphStore(Registry& registry, const MailProfileValues& values,
                                          const Cancellation* cancel) {
  GraphMailbox mailbox{ApiRoot(registry), GraphMailboxOf(values.store)};
  const std::string command = ReadPasswordCommand(registry);
  GraphConnection::TokenSource tokens =
      command.empty() ? SignInTokens(registry, values, cancel) : CommandTokens(command, cancel);
  // The token is asked for once now (a mailbox that needs a sign-in says so
  // before anything is asked of the server) and kept for every request
  // until Graph refuses it.
  auto source = [tokens, current = tokens(false)](bool renew) mutable {
    if (renew) current = tokens(true);
    return current;
  };
  auto connection =
      std::make_unique<GraphConnection>(OptionsOf(registry, values), std::move(source), cancel);
  return std::make_unique<GraphStore>(std::move(connection), std::move(mailbox), cancel);
}

}  // namespace qm
