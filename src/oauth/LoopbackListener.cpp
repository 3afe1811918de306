#include "oauth/LoopbackListener.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "base/SocketCalls.h"
#include "base/SocketWait.h"
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

void Answer(NativeSocket client, int status, std::string_view page) {
  const std::string reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Bad Request";
  const std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                            "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                            std::to_string(page.size()) +
                            "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" +
                            std::string(page);
  // A browser that went away takes no page: nothing to report.
  SendSome(client, reply);
}

// One connection whose request head is being read.
struct Connection {
  UniqueSocket socket;
  Clock::time_point deadline;
  std::string head;
};

enum class Reading { kMore, kComplete, kDropped };

// Reads what the connection has: its head may be complete now, or the
// client went away or sent more than any redirect holds (dropped unanswered).
Reading ReadSome(Connection& connection) {
  char buffer[1024];
  for (;;) {
    const std::ptrdiff_t got = ReceiveSome(connection.socket.get(), buffer, sizeof buffer);
    const int error = got < 0 ? LastSocketError() : 0;
    if (got < 0 && Interrupted(error)) continue;
    if (got < 0 && WouldBlock(error)) return Reading::kMore;
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
  RedirectWait(NativeSocket listener, std::string state, const Cancellation* cancel)
      : listener_(listener), state_(std::move(state)), cancel_(cancel) {}

  std::string Run(Clock::time_point deadline) {
    for (;;) {
      const Clock::time_point now = Clock::now();
      std::erase_if(connections_, [now](const Connection& c) { return c.deadline <= now; });
      if (now >= deadline) throw Refused(NoAnswer());
      const std::vector<SocketWatch> ready = WaitForActivity(deadline);
      for (std::size_t i = 0; i + 1 < ready.size(); ++i) {
        if (!ready[i + 1].ready) continue;
        if (std::optional<std::string> code = Serve(connections_[i])) return std::move(*code);
      }
      std::erase_if(connections_, [](const Connection& c) { return !c.socket.valid(); });
      if (ready[0].ready) AcceptAll();
    }
  }

 private:
  // The listener and every connection, as the wait left them (none ready
  // when the first connection's time is up).
  std::vector<SocketWatch> WaitForActivity(Clock::time_point deadline) {
    std::vector<SocketWatch> watches = {{listener_}};
    Clock::time_point wake = deadline;
    for (const Connection& c : connections_) {
      watches.push_back({c.socket.get()});
      wake = std::min(wake, c.deadline);
    }
    const auto limit = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
    const SocketWaitResult result = WaitForSockets(watches, limit, cancel_);
    if (result.end == SocketWaitResult::End::kCancelled) {
      throw CancelledWhile("waiting for the browser");
    }
    if (result.end == SocketWaitResult::End::kFailed) {
      throw SocketFailure(FailureKind::SignOn, result.error, "waiting for the browser");
    }
    return watches;
  }

  void AcceptAll() {
    for (;;) {
      UniqueSocket client = AcceptPending(listener_);
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
    const NativeSocket client = connection.socket.get();
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

  NativeSocket listener_;
  std::string state_;
  const Cancellation* cancel_;
  std::vector<Connection> connections_;  // oldest first
  int not_ours_ = 0;
};

}  // namespace

LoopbackListener::LoopbackListener() {
  socket_ = ListenOnLoopback(kBacklog, port_);
  if (!socket_.valid()) {
    throw SocketFailure(FailureKind::SignOn, LastSocketError(),
                        "cannot open a port on 127.0.0.1 for the browser sign-in");
  }
}

std::string LoopbackListener::RedirectUri() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::string LoopbackListener::WaitForCode(const std::string& state, std::chrono::milliseconds limit,
                                          const Cancellation* cancel) {
  return RedirectWait(socket_.get(), state, cancel).Run(Clock::now() + limit);
}

}  // namespace qm
