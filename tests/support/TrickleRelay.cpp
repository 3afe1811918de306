#include "tests/support/TrickleRelay.h"

#include <sys/socket.h>

#include <algorithm>

#include "tests/support/LoopbackSocket.h"

namespace qm::testing {

TrickleRelay::TrickleRelay(int target_port, std::uint64_t free_bytes,
                           std::chrono::milliseconds interval)
    : target_port_(target_port), free_bytes_(free_bytes), interval_(interval) {
  listener_ = ListenOnLoopback(port_);
  accepter_ = std::thread([this] { AcceptLoop(); });
}

TrickleRelay::~TrickleRelay() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    for (const UniqueFd& fd : sockets_) ::shutdown(fd.get(), SHUT_RDWR);
  }
  stopped_.notify_all();
  ::shutdown(listener_.get(), SHUT_RDWR);
  accepter_.join();
  for (std::thread& pump : pumps_) pump.join();
}

void TrickleRelay::AcceptLoop() {
  for (;;) {
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    if (!client.valid()) continue;
    UniqueFd server = ConnectToLoopback(target_port_);
    if (!server.valid()) continue;  // the client sees its connection closed
    const int client_fd = client.get();
    const int server_fd = server.get();
    sockets_.push_back(std::move(client));
    sockets_.push_back(std::move(server));
    pumps_.emplace_back([this, client_fd, server_fd] { Pump(client_fd, server_fd, false); });
    pumps_.emplace_back([this, client_fd, server_fd] { Pump(server_fd, client_fd, true); });
  }
}

void TrickleRelay::Pump(int from, int to, bool to_client) {
  std::uint64_t sent = 0;
  char buffer[16 * 1024];
  for (;;) {
    const ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      std::size_t size = static_cast<std::size_t>(got - at);
      if (to_client && sent >= free_bytes_) {
        if (!Sleep()) return;
        size = 1;
        ++trickled_;
      } else if (to_client) {
        size = static_cast<std::size_t>(std::min<std::uint64_t>(size, free_bytes_ - sent));
      }
      const ssize_t put = ::send(to, buffer + at, size, MSG_NOSIGNAL);
      if (put <= 0) return;
      at += put;
      sent += static_cast<std::uint64_t>(put);
    }
  }
  ::shutdown(to, SHUT_WR);
}

bool TrickleRelay::Sleep() {
  std::unique_lock lock(mutex_);
  return !stopped_.wait_for(lock, interval_, [this] { return stopping_; });
}

}  // namespace qm::testing
