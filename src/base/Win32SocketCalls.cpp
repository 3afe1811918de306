#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <type_traits>

#include "base/SocketCalls.h"

namespace qm {

static_assert(std::is_same_v<NativeSocket, SOCKET> && kNoSocket == INVALID_SOCKET,
              "UniqueSocket.h names Winsock's socket type");

namespace {

// Winsock serves a process once WSAStartup has run; it is never undone, and
// the system releases it with the process.
void StartWinsock() {
  static const int started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) throw SocketFailure(FailureKind::Internal, started, "cannot start Winsock");
}

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  return address;
}

// A TCP socket that no child process inherits.
UniqueSocket TcpSocket() {
  StartWinsock();
  return UniqueSocket(
      ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
}

bool MakeNonBlocking(NativeSocket socket) {
  u_long on = 1;
  return ::ioctlsocket(socket, FIONBIO, &on) == 0;
}

// Closes the socket, keeping the error that made the caller give it up.
void Abandon(UniqueSocket& socket) {
  const int error = ::WSAGetLastError();
  socket.Reset();
  ::WSASetLastError(error);
}

}  // namespace

void CloseSocket(NativeSocket socket) { ::closesocket(socket); }

UniqueSocket ListenOnLoopback(int backlog, int& port) {
  UniqueSocket listener = TcpSocket();
  sockaddr_in address = LoopbackAddress(0);
  int length = sizeof address;
  // No other program may bind the same port beside ours to take the redirect.
  const BOOL exclusive = TRUE;
  if (!listener.valid() ||
      ::setsockopt(listener.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0 ||
      !MakeNonBlocking(listener.get()) ||
      ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.get(), backlog) != 0 ||
      ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Abandon(listener);
    return listener;
  }
  port = ntohs(address.sin_port);
  return listener;
}

UniqueSocket AcceptPending(NativeSocket listener) {
  UniqueSocket connection(::accept(listener, nullptr, nullptr));
  if (connection.valid() && !MakeNonBlocking(connection.get())) Abandon(connection);
  return connection;
}

UniqueSocket ConnectToLoopback(int port) {
  UniqueSocket connection = TcpSocket();
  const sockaddr_in address = LoopbackAddress(port);
  if (!connection.valid() ||
      ::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
          0) {
    Abandon(connection);
  }
  return connection;
}

std::ptrdiff_t ReceiveSome(NativeSocket socket, char* buffer, std::size_t size) {
  return ::recv(socket, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
}

// Windows raises no signal for a peer that went away.
std::ptrdiff_t SendSome(NativeSocket socket, std::string_view bytes) {
  return ::send(socket, bytes.data(),
                static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX)), 0);
}

int LastSocketError() { return ::WSAGetLastError(); }
bool WouldBlock(int error) { return error == WSAEWOULDBLOCK; }
bool Interrupted(int error) { return error == WSAEINTR; }

Failure SocketFailure(FailureKind kind, int error, const std::string& what) {
  return Failure(kind, Cause::kSystem, what + ": Winsock error " + std::to_string(error), error);
}

}  // namespace qm
