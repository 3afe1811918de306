#pragma once
// Opening a Microsoft 365 mailbox through Microsoft Graph: the profile's
// "Store" value ("graph:" or "graph:ADDRESS"), "GraphEndpoint" (the API
// root, for a national cloud or tests), "CAFile", the time limits, and the
// access token: the one kept from the sign-in, refreshed when it is about
// to expire and again when Graph refuses it; or the token a
// "PasswordCommand" gives.

#include <memory>
#include <string>

#include "profile/MailProfile.h"
#include "store/MailStore.h"

namespace qm {

class Cancellation;
class Registry;

inline constexpr char kMailGraphEndpointValue[] = "GraphEndpoint";

// Throws Failure(SignOn, kNoMailbox) for unusable values, and the failures
// of CurrentAccessToken.
std::unique_ptr<MailStore> OpenGraphStore(Registry& registry, const MailProfileValues& values,
                                          const Cancellation* cancel = nullptr);

}  // namespace qm
