#pragma once
// The few socket calls the program makes itself, for the browser's redirect
// on 127.0.0.1, alike on every system: the sockets it opens are not inherited
// by child processes, the listening and accepted ones do not block, a send to
// a peer that went away fails instead of raising SIGPIPE, and on Windows
// Winsock is started before the first call.

#include <cstddef>
#include <string>
#include <string_view>

#include "base/Failure.h"
#include "base/UniqueSocket.h"

namespace qm {

// A TCP socket listening on 127.0.0.1 at a port the system picks, which goes
// to `port`. Not valid when the system refuses: LastSocketError() tells why.
UniqueSocket ListenOnLoopback(int backlog, int& port);

// A connection waiting on `listener`; not valid when none is waiting.
UniqueSocket AcceptPending(NativeSocket listener);

// A blocking TCP connection to 127.0.0.1 at `port`; not valid when refused.
UniqueSocket ConnectToLoopback(int port);

// Like recv() and send(): the bytes moved, or -1 with LastSocketError() set.
std::ptrdiff_t ReceiveSome(NativeSocket socket, char* buffer, std::size_t size);
std::ptrdiff_t SendSome(NativeSocket socket, std::string_view bytes);

// The error of the last socket call of this thread (errno, WSAGetLastError()).
int LastSocketError();
// Whether that error means "nothing yet, try later" or "a signal interrupted".
bool WouldBlock(int error);
bool Interrupted(int error);

// "<what>: <the error's text>", a Cause::kSystem failure.
Failure SocketFailure(FailureKind kind, int error, const std::string& what);

}  // namespace qm
