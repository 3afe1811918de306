#include "oauth/LoopbackListener.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "oauth/RedirectRequest.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kLargestRequest = 8 * 1024;
constexpr std::chrono::milliseconds kConnectionLimit{5000};
// Connections read at the same time; one more pushes out the oldest, so
// that idle connections never keep the browser's request waiting.
constexpr std::size_t kMostConnections = 16;
// Connections the system queues until they are accepted.
constexpr int kBacklog = 64;

constexpr std::string_view kSignedInPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Quillmar</title></head><body>"
    "<p>サインインしました。このページを閉じて Quillmar に戻ってください。</p>"
    "<p>Signed in. Close this page and return to Quillmar.</p></body></html>";
constexpr std::string_view kRefusedPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Quillmar</title></head><body>"
    "<p>サインインできませんでした。Quillmar に戻ってください。</p>"
    "<p>The sign-in did not complete. Return to Quillmar.</p></body></html>";
constexpr std::string_view kNotOursPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Quillmar</title></head><body>"
    "<p>このアドレスは Quillmar のサインインの応答だけを受け付けます。</p>"
    "<p>This address takes the answer of a Quillmar sign-in only.</p></body></html>";

Failure Refused(const std::string& why) {
  return Failure(FailureKind::SignOn, Cause::kLoginRefused, "the browser sign-in failed: " + why);
}

int MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

void Answer(int client, int status, std::string_view page) {
  const std::string reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Bad Request";
  const std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                            "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                            std::to_string(page.size()) +
                            "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" +
                            std::string(page);
  // A browser that went away takes no page: nothing to report.
  ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
}

// One connection whose request head is being read.
struct Connection {
  UniqueFd socket;
  Clock::time_point deadline;
  std::string head;
};

enum class Reading { kMore, kComplete, kDropped };

// Reads what the connection has: its head may be complete now, or the
// client went away or sent more than any redirect holds (dropped unanswered).
Reading ReadSome(Connection& connection) {
  char buffer[1024];
  for (;;) {
    const ssize_t got = ::recv(connection.socket.get(), buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Reading::kMore;
    if (got <= 0) return Reading::kDropped;
    connection.head.append(buffer, static_cast<std::size_t>(got));
    if (connection.head.find("\r\n\r\n") != std::string::npos) return Reading::kComplete;
    if (connection.head.size() > kLargestRequest) return Reading::kDropped;
  }
}

// The wait of one sign-in: every connection is read as its bytes come,
// each within its own time limit, until one brings this sign-in's redirect.
class RedirectWait {
 public:
  RedirectWait(int listener, std::string state, const Cancellation* cancel)
      : listener_(listener), state_(std::move(state)), cancel_(cancel) {}

  std::string Run(Clock::time_point deadline) {
    for (;;) {
      const Clock::time_point now = Clock::now();
      std::erase_if(connections_, [now](const Connection& c) { return c.deadline <= now; });
      if (now >= deadline) throw Refused(NoAnswer());
      std::vector<pollfd> ready = WaitForActivity(deadline);
      if (ready[1].revents != 0) throw CancelledWhile("waiting for the browser");
      for (std::size_t i = 0; i + 2 < ready.size(); ++i) {
        if (ready[i + 2].revents == 0) continue;
        if (std::optional<std::string> code = Serve(connections_[i])) return std::move(*code);
      }
      std::erase_if(connections_, [](const Connection& c) { return !c.socket.valid(); });
      if (ready[0].revents != 0) AcceptAll();
    }
  }

 private:
  // The listener, the cancellation and every connection, as poll left them.
  std::vector<pollfd> WaitForActivity(Clock::time_point deadline) {
    std::vector<pollfd> fds = {{listener_, POLLIN, 0},
                               {cancel_ != nullptr ? cancel_->fd() : -1, POLLIN, 0}};
    Clock::time_point wake = deadline;
    for (const Connection& c : connections_) {
      fds.push_back({c.socket.get(), POLLIN, 0});
      wake = std::min(wake, c.deadline);
    }
    if (::poll(fds.data(), fds.size(), MillisecondsUntil(wake)) < 0) {
      if (errno != EINTR) throw FileFailure(FailureKind::SignOn, errno, "waiting for the browser");
      for (pollfd& fd : fds) fd.revents = 0;
    }
    return fds;
  }

  void AcceptAll() {
    for (;;) {
      UniqueFd client(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (!client.valid()) return;
      if (connections_.size() >= kMostConnections) connections_.erase(connections_.begin());
      connections_.push_back({std::move(client), Clock::now() + kConnectionLimit, ""});
    }
  }

  // Reads from one connection; once its request is whole, answers it. The
  // code of this sign-in's redirect ends the wait; its refusal throws;
  // anything else is answered, counted and closed.
  std::optional<std::string> Serve(Connection& connection) {
    const Reading reading = ReadSome(connection);
    if (reading == Reading::kMore) return std::nullopt;
    const int client = connection.socket.get();
    if (reading == Reading::kComplete) {
      RedirectVerdict verdict = JudgeRedirect(connection.head, state_);
      switch (verdict.kind) {
        case RedirectVerdict::Kind::kCode:
          Answer(client, 200, kSignedInPage);
          return std::move(verdict.code);
        case RedirectVerdict::Kind::kRefusal:
          Answer(client, 400, kRefusedPage);
          throw Refused(verdict.why);
        case RedirectVerdict::Kind::kNotOurs:
          Answer(client, 400, kNotOursPage);
          ++not_ours_;
          break;
        case RedirectVerdict::Kind::kNotFound:
          Answer(client, 404, kNotOursPage);
          break;
      }
    }
    connection.socket.Reset();
    return std::nullopt;
  }

  std::string NoAnswer() const {
    std::string why = "no answer from the browser in time";
    if (not_ours_ > 0) {
      why += "; " + std::to_string(not_ours_) +
             " request(s) without this sign-in's state were turned away";
    }
    return why;
  }

  int listener_;
  std::string state_;
  const Cancellation* cancel_;
  std::vector<Connection> connections_;  // oldest first
  int not_ours_ = 0;
};

}  // namespace

LoopbackListener::LoopbackListener()
    : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (!socket_.valid() ||
      ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(socket_.get(), kBacklog) != 0 ||
      ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw FileFailure(FailureKind::SignOn, errno,
                      "cannot open a port on 127.0.0.1 for the browser sign-in");
  }
  port_ = ntohs(address.sin_port);
}

std::string LoopbackListener::RedirectUri() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::string LoopbackListener::WaitForCode(const std::string& state, std::chrono::milliseconds limit,
                                          const Cancellation* cancel) {
  return RedirectWait(socket_.get(), state, cancel).Run(Clock::now() + limit);
}

}  // namespace qm
