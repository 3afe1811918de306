#pragma once
// The one-shot listener the browser is sent back to after a sign-in: a TCP
// socket on 127.0.0.1 at a port the system picks, accepting connections
// until one brings the redirect, which must carry the `state` this sign-in
// sent. It answers the browser a short page and closes. Requests are read up
// to a bounded size, each connection within a few seconds, the whole wait
// within a time limit.

#include <chrono>
#include <string>

#include "frame/settings/UniqueFd.h"

namespace qm {

class Cancellation;

class LoopbackListener {
 public:
  // Throws Failure(SignOn, kLoginRefused) when no port can be opened.
  LoopbackListener();

  int port() const { return port_; }
  // "http://127.0.0.1:<port>/", the redirect address to register the sign-in with.
  std::string RedirectUri() const;

  // The authorization code of the redirect. Throws Failure(SignOn,
  // kLoginRefused) when the redirect's state is not `state`, when it carries
  // an error (the user refused) or no code, or when `limit` passes first; a
  // request of `cancel` ends the wait with a Cancelled failure.
  std::string WaitForCode(const std::string& state, std::chrono::milliseconds limit,
                          const Cancellation* cancel = nullptr);

 private:
  UniqueFd socket_;
  int port_ = 0;
};

}  // namespace qm
