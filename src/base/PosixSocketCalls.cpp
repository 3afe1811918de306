#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/SocketCalls.h"

namespace qm {
namespace {

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

}  // namespace

void CloseSocket(NativeSocket socket) { ::close(socket); }

UniqueSocket ListenOnLoopback(int backlog, int& port) {
  UniqueSocket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  if (!listener.valid() ||
      ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.get(), backlog) != 0 ||
      ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int error = errno;
    listener.Reset();
    errno = error;
    return listener;
  }
  port = ntohs(address.sin_port);
  return listener;
}

UniqueSocket AcceptPending(NativeSocket listener) {
  return UniqueSocket(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
}

UniqueSocket ConnectToLoopback(int port) {
  UniqueSocket connection(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = LoopbackAddress(port);
  if (!connection.valid() ||
      ::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
          0) {
    const int error = errno;
    connection.Reset();
    errno = error;
  }
  return connection;
}

std::ptrdiff_t ReceiveSome(NativeSocket socket, char* buffer, std::size_t size) {
  return ::recv(socket, buffer, size, 0);
}

std::ptrdiff_t SendSome(NativeSocket socket, std::string_view bytes) {
  return ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

int LastSocketError() { return errno; }
bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
bool Interrupted(int error) { return error == EINTR; }

Failure SocketFailure(FailureKind kind, int error, const std::string& what) {
  return FileFailure(kind, error, what);
}

}  // namespace qm
