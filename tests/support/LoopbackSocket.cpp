#include "tests/support/LoopbackSocket.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdint>
#include <stdexcept>

namespace qm::testing {

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

UniqueFd ListenOnLoopback(int& port, int backlog, int flags) {
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0));
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  if (!listener.valid() ||
      ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.get(), backlog) != 0 ||
      ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return listener;
}

UniqueFd ConnectToLoopback(int port) {
  UniqueFd connection(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = LoopbackAddress(port);
  if (!connection.valid() ||
      ::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
          0) {
    return UniqueFd();
  }
  return connection;
}

}  // namespace qm::testing
