#pragma once
// The one-shot listener the browser is sent back to after a sign-in: a TCP
// socket on 127.0.0.1 at a port the system picks, accepting connections
// until one brings the redirect with the `state` this sign-in sent. It
// answers the browser a short page and closes. Any process on this machine
// can connect: requests without that state are answered with an error page
// and ignored, and connections are read side by side, so that an idle or
// stray one never holds up the browser's. Requests are read up to a bounded
// size, each connection within a few seconds, at most 16 at a time (one more
// pushes out the oldest), the whole wait within a time limit.

#include <chrono>
#include <string>

#include "base/UniqueSocket.h"

namespace qm {

class Cancellation;

class LoopbackListener {
 public:
  // Throws Failure(SignOn, kLoginRefused) when no port can be opened.
  LoopbackListener();

  int port() const { return port_; }
  // "http://127.0.0.1:<port>/", the redirect address to register the sign-in with.
  std::string RedirectUri() const;

  // The authorization code of the redirect that carries `state`. Throws
  // Failure(SignOn, kLoginRefused) when that redirect carries an error (the
  // user refused) or no code, or when `limit` passes first; a request of
  // `cancel` ends the wait with a Cancelled failure.
  std::string WaitForCode(const std::string& state, std::chrono::milliseconds limit,
                          const Cancellation* cancel = nullptr);

 private:
  UniqueSocket socket_;
  int port_ = 0;
};

}  // namespace qm
