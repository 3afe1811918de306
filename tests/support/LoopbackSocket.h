#pragma once
// The sockets of the test servers and relays: all on 127.0.0.1.

#include <netinet/in.h>

#include "base/UniqueFd.h"

namespace qm::testing {

// 127.0.0.1 at `port`.
sockaddr_in LoopbackAddress(int port);

// A TCP socket listening on 127.0.0.1 at a free port, which goes to `port`;
// `flags` are added to the socket's type (SOCK_NONBLOCK). Throws when the
// system refuses.
UniqueFd ListenOnLoopback(int& port, int backlog = 16, int flags = 0);

// A TCP connection to 127.0.0.1 at `port`; not valid when refused.
UniqueFd ConnectToLoopback(int port);

}  // namespace qm::testing
