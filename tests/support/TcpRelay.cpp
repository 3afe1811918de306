#include "tests/support/TcpRelay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

#include "tests/support/LoopbackSocket.h"

namespace qm::testing {
namespace {

constexpr std::size_t kChunk = 16 * 1024;

// What to wait for on the socket that `reading` reads from and `writing` writes to.
template <typename Flow>
short Events(const Flow& reading, const Flow& writing) {
  short events = 0;
  if (!reading.ended && reading.pending.empty()) events |= POLLIN;
  if (!writing.pending.empty()) events |= POLLOUT;
  return events;
}

}  // namespace

TcpRelay::TcpRelay(int target_port, TcpRelayOptions options)
    : target_port_(target_port), options_(options) {
  listener_ = ListenOnLoopback(port_, 16, SOCK_NONBLOCK);
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
  wake_read_ = UniqueFd(wake[0]);
  wake_write_ = UniqueFd(wake[1]);
  thread_ = std::thread([this] { Loop(); });
}

TcpRelay::~TcpRelay() {
  stopping_ = true;
  Wake();
  thread_.join();
}

void TcpRelay::Cut() {
  cut_requested_ = true;
  Wake();
}

void TcpRelay::Wake() {
  const char byte = 0;
  [[maybe_unused]] const ssize_t ignored = ::write(wake_write_.get(), &byte, 1);
}

void TcpRelay::Loop() {
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

void TcpRelay::ServeReady(std::list<Connection>& connections, const std::vector<pollfd>& fds) {
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

void TcpRelay::DrainWake() {
  char bytes[64];
  while (::read(wake_read_.get(), bytes, sizeof bytes) > 0) {
  }
}

void TcpRelay::Accept(std::list<Connection>& connections) {
  UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!client.valid()) return;
  UniqueFd server = ConnectToLoopback(target_port_);
  if (!server.valid() || ::fcntl(server.get(), F_SETFL, O_NONBLOCK) != 0) {
    return;  // the client sees its connection closed
  }
  ++accepted_;
  Connection& c = connections.emplace_back();
  c.up = {client.get(), server.get(), &to_server_, {}, false, false};
  c.down = {server.get(), client.get(), &to_client_, {}, false, false};
  c.client = std::move(client);
  c.server = std::move(server);
}

bool TcpRelay::Pass(Flow& flow, bool& cut_when_sent, bool to_client) {
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

bool TcpRelay::Flush(Flow& flow) {
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

void TcpRelay::CutAll(std::list<Connection>& connections) {
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

}  // namespace qm::testing
