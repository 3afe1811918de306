#pragma once
// A TCP relay on 127.0.0.1 in front of a local server that turns it into a
// trickling one: every connection accepted on port() is forwarded to the
// target port, the client's bytes at once, the server's first `free_bytes`
// at once too and every later byte alone, one per `interval`, as a server
// would that keeps a connection alive without ever getting on with it. TLS
// passes through untouched. Each direction of a connection has a thread of
// its own; the relay stops them all when it goes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace qm::testing {

class TrickleRelay {
 public:
  TrickleRelay(int target_port, std::uint64_t free_bytes, std::chrono::milliseconds interval)
      : target_port_(target_port), free_bytes_(free_bytes), interval_(interval) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("the trickle relay cannot listen");
    }
    port_ = ntohs(address.sin_port);
    accepter_ = std::thread([this] { AcceptLoop(); });
  }

  ~TrickleRelay() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
      for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    ::shutdown(listener_, SHUT_RDWR);
    accepter_.join();
    for (std::thread& pump : pumps_) pump.join();
    for (int fd : sockets_) ::close(fd);
    ::close(listener_);
  }
  TrickleRelay(const TrickleRelay&) = delete;
  TrickleRelay& operator=(const TrickleRelay&) = delete;

  int port() const { return port_; }
  // Bytes passed on to clients one at a time so far.
  std::uint64_t trickled() const { return trickled_; }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
  }

  void AcceptLoop() {
    for (;;) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      const std::lock_guard lock(mutex_);
      if (stopping_) {
        if (client >= 0) ::close(client);
        return;
      }
      if (client < 0) continue;
      const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const sockaddr_in address = Loopback(target_port_);
      sockets_.push_back(client);
      sockets_.push_back(server);
      if (::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::shutdown(client, SHUT_RDWR);
        continue;
      }
      pumps_.emplace_back([this, client, server] { Pump(client, server, false); });
      pumps_.emplace_back([this, client, server] { Pump(server, client, true); });
    }
  }

  // Copies `from` to `to` until either end closes or the relay stops.
  void Pump(int from, int to, bool to_client) {
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

  // Waits one interval; false when the relay stops meanwhile.
  bool Sleep() {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, interval_, [this] { return stopping_; });
  }

  int target_port_;
  std::uint64_t free_bytes_;
  std::chrono::milliseconds interval_;
  int listener_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::vector<int> sockets_;
  std::list<std::thread> pumps_;
  std::atomic<std::uint64_t> trickled_{0};
  std::thread accepter_;
};

}  // namespace qm::testing
