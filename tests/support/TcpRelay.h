#pragma once
// A TCP relay on 127.0.0.1 in front of a local server, on a thread of its own:
// every connection accepted on port() is forwarded byte for byte to the
// target port (TLS passes through untouched). It counts the bytes of each
// direction and can cut the connections in the middle of a session: when the
// test calls Cut(), or once a given number of bytes has gone from the server
// to the clients. A cut connection is reset (RST), or closed (FIN) when the
// options say so; the relay goes on accepting, and later connections pass.
// Instead of cutting, it can fall silent: the connections stay open, and
// nothing passes any more either way, as with a server that stopped answering.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qm::testing {

// A file descriptor, closed with the object.
class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() { Close(); }
  OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct TcpRelayOptions {
  // Cut every open connection once this many bytes went to clients (0: never).
  // Only the bytes up to that count are passed on.
  std::uint64_t cut_after_bytes_to_client = 0;
  bool reset_on_cut = true;             // false: a plain close
  bool silence_instead_of_cut = false;  // at the byte count: keep the connections, pass nothing
};

class TcpRelay {
 public:
  explicit TcpRelay(int target_port, TcpRelayOptions options = {})
      : target_port_(target_port), options_(options) {
    listener_ = OwnedFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (!listener_.valid() ||
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 16) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("the relay cannot listen");
    }
    port_ = ntohs(address.sin_port);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
    wake_read_ = OwnedFd(wake[0]);
    wake_write_ = OwnedFd(wake[1]);
    thread_ = std::thread([this] { Loop(); });
  }
  ~TcpRelay() {
    stopping_ = true;
    Wake();
    thread_.join();
  }
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  int port() const { return port_; }
  std::uint64_t bytes_to_client() const { return to_client_; }
  std::uint64_t bytes_to_server() const { return to_server_; }
  int connections() const { return accepted_; }
  // True once connections were cut (by Cut() or the byte count).
  bool cut() const { return cut_; }
  // True once the relay fell silent.
  bool silent() const { return silent_; }

  // Cuts every open connection now.
  void Cut() {
    cut_requested_ = true;
    Wake();
  }

 private:
  // One direction of a connection: bytes read from `from`, not yet written to `to`.
  struct Flow {
    int from;
    int to;
    std::atomic<std::uint64_t>* counter;
    std::string pending;
    bool ended = false;  // `from` sent its last byte
    bool shut = false;   // and that end was passed on to `to`
  };
  struct Connection {
    OwnedFd client;
    OwnedFd server;
    Flow up;    // client to server
    Flow down;  // server to client
    bool cut_when_sent = false;
    bool Done() const { return up.shut && down.shut; }
  };

  static constexpr std::size_t kChunk = 16 * 1024;

  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
  }

  void Wake() {
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_write_.get(), &byte, 1);
  }

  void Loop() {
    std::list<Connection> connections;
    while (!stopping_) {
      std::vector<pollfd> fds = {{wake_read_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
      for (Connection& c : connections) {
        if (silent_) break;  // nothing of theirs is looked at any more
        fds.push_back({c.client.get(), Events(c.up, c.down), 0});
        fds.push_back({c.server.get(), Events(c.down, c.up), 0});
      }
      if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
      if (fds[0].revents != 0) DrainWake();
      if (cut_requested_.exchange(false)) {
        CutAll(connections);
        continue;
      }
      ServeReady(connections, fds);
      if (fds[1].revents != 0) Accept(connections);
    }
  }

  // Moves the bytes of the connections whose sockets `fds` found ready; the
  // connections are in the order their sockets were put into `fds`.
  void ServeReady(std::list<Connection>& connections, const std::vector<pollfd>& fds) {
    std::size_t at = 2;
    for (auto it = connections.begin(); it != connections.end() && at < fds.size(); at += 2) {
      Connection& c = *it;
      bool alive = true;
      if (fds[at].revents != 0) alive = Pass(c.up, c.cut_when_sent, false) && Flush(c.down);
      if (alive && fds[at + 1].revents != 0) {
        alive = Pass(c.down, c.cut_when_sent, true) && Flush(c.up);
      }
      if (alive && c.cut_when_sent && c.down.pending.empty()) {
        if (options_.silence_instead_of_cut) {
          silent_ = true;
          return;
        }
        CutAll(connections);
        return;
      }
      it = alive && !c.Done() ? std::next(it) : connections.erase(it);
    }
  }

  // What to wait for on the socket that `reading` reads from and `writing` writes to.
  static short Events(const Flow& reading, const Flow& writing) {
    short events = 0;
    if (!reading.ended && reading.pending.empty()) events |= POLLIN;
    if (!writing.pending.empty()) events |= POLLOUT;
    return events;
  }

  void DrainWake() {
    char bytes[64];
    while (::read(wake_read_.get(), bytes, sizeof bytes) > 0) {
    }
  }

  void Accept(std::list<Connection>& connections) {
    OwnedFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!client.valid()) return;
    OwnedFd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = Loopback(target_port_);
    if (!server.valid() ||
        ::connect(server.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::fcntl(server.get(), F_SETFL, O_NONBLOCK) != 0) {
      return;  // the client sees its connection closed
    }
    ++accepted_;
    Connection& c = connections.emplace_back();
    c.up = {client.get(), server.get(), &to_server_, {}, false, false};
    c.down = {server.get(), client.get(), &to_client_, {}, false, false};
    c.client = std::move(client);
    c.server = std::move(server);
  }

  // Reads what `flow` has to offer and passes it on; false when the
  // connection is broken. Bytes to the client stop at the cut.
  bool Pass(Flow& flow, bool& cut_when_sent, bool to_client) {
    if (!flow.ended && flow.pending.empty() && !cut_when_sent) {
      char buffer[kChunk];
      const ssize_t got = ::recv(flow.from, buffer, sizeof buffer, 0);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) return Flush(flow);
      if (got < 0) return false;
      if (got == 0) flow.ended = true;
      std::size_t keep = static_cast<std::size_t>(got);
      const std::uint64_t limit = options_.cut_after_bytes_to_client;
      if (to_client && limit > 0 && !cut_) {
        const std::uint64_t passed = to_client_ + total_pending_down_;
        const std::uint64_t room = limit > passed ? limit - passed : 0;
        if (keep >= room) {
          keep = static_cast<std::size_t>(room);
          cut_when_sent = true;
        }
        total_pending_down_ += keep;
      }
      flow.pending.append(buffer, keep);
    }
    return Flush(flow);
  }

  // Writes what is pending; passes an ended flow's end on. False when broken.
  bool Flush(Flow& flow) {
    while (!flow.pending.empty()) {
      const ssize_t sent = ::send(flow.to, flow.pending.data(), flow.pending.size(), MSG_NOSIGNAL);
      if (sent < 0 && (errno == EAGAIN || errno == EINTR)) return true;
      if (sent < 0) return false;
      flow.pending.erase(0, static_cast<std::size_t>(sent));
      *flow.counter += static_cast<std::uint64_t>(sent);
      if (flow.counter == &to_client_ && options_.cut_after_bytes_to_client > 0 && !cut_) {
        total_pending_down_ -= static_cast<std::uint64_t>(sent);
      }
    }
    if (flow.ended && !flow.shut) {
      ::shutdown(flow.to, SHUT_WR);
      flow.shut = true;
    }
    return true;
  }

  void CutAll(std::list<Connection>& connections) {
    for (Connection& c : connections) {
      if (options_.reset_on_cut) {
        const linger reset = {1, 0};  // close() then sends RST
        for (int fd : {c.client.get(), c.server.get()}) {
          ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
      }
    }
    connections.clear();
    total_pending_down_ = 0;
    cut_ = true;
  }

  int target_port_;
  TcpRelayOptions options_;
  OwnedFd listener_;
  OwnedFd wake_read_;
  OwnedFd wake_write_;
  int port_ = 0;
  std::atomic<std::uint64_t> to_client_{0};
  std::atomic<std::uint64_t> to_server_{0};
  std::uint64_t total_pending_down_ = 0;  // read from servers, not yet sent: relay thread only
  std::atomic<int> accepted_{0};
  std::atomic<bool> cut_{false};
  std::atomic<bool> silent_{false};
  std::atomic<bool> cut_requested_{false};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace qm::testing
