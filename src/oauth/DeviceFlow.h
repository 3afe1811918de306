#pragma once
// The device-authorization sign-in, for a machine whose browser cannot reach
// back to this program: the provider gives a short code and an address; the
// user opens the address on any device and types the code, while this side
// asks the token endpoint at the interval the provider sets.

#include <chrono>
#include <functional>
#include <string>

#include "oauth/OAuthProvider.h"
#include "oauth/TokenSet.h"

namespace qm {

class Cancellation;

struct DeviceCode {
  std::string device_code;  // a secret between this program and the provider
  std::string user_code;    // what the user types
  std::string verification_uri;
  std::chrono::seconds expires_in{0};
  std::chrono::seconds interval{5};

  ~DeviceCode();
};

// Asks for a code. Throws Failure(SignOn, kLoginRefused) when the provider
// refuses (the client is not allowed the device grant) or answers nonsense.
DeviceCode StartDeviceAuthorization(const OAuthEndpoints& endpoints, const OAuthClient& client,
                                    const Cancellation* cancel = nullptr);

// Waits `interval` before the next poll; a cancellable sleep in the program,
// a recording one in tests. Throws to end the wait.
using PollWait = std::function<void(std::chrono::seconds interval)>;

// A wait that a request of `cancel` ends at once with a Cancelled failure.
PollWait CancellableWait(const Cancellation* cancel);

// Polls until the user has signed in: authorization_pending waits another
// interval, slow_down lengthens it by five seconds. Throws Failure(SignOn,
// kLoginRefused) when the user refuses (access_denied), the code expires
// (expired_token, or the waits reach its lifetime) or the provider answers
// another error.
TokenSet WaitForDeviceSignIn(const OAuthEndpoints& endpoints, const OAuthClient& client,
                             const DeviceCode& code, const PollWait& wait,
                             const Cancellation* cancel = nullptr);

}  // namespace qm
