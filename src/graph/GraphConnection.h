#pragma once
// HTTPS requests to Microsoft Graph over one libcurl multi handle: several
// at once (Graph serves at most four per mailbox), over one HTTP/2
// connection where libcurl offers it, else over kept-alive HTTP/1.1
// connections. Answers that ask to wait (429, 503) are retried after their
// Retry-After, a 401 asks the token source for a fresh token once, and a
// cancel ends every request at once.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qm {

class Cancellation;

// How long the server may take: connecting (with TLS) within `connect`; once
// connected, fewer than `least_bytes` moving in `idle` ends the request as
// stalled.
struct GraphTimeouts {
  std::chrono::milliseconds connect{20'000};
  std::chrono::milliseconds idle{60'000};
  std::size_t least_bytes = 1024;
};

struct GraphConnectionOptions {
  // The CA certificates to trust (PEM text), the system's among them where
  // they are to count (base/CaBundle.h makes such a bundle); empty:
  // libcurl's own.
  std::string ca_pem{};
  GraphTimeouts timeouts{};
  int max_in_flight = 4;
  // Per request, for 429, 503 and a connection lost on the way.
  int max_attempts = 5;
  // A Retry-After longer than this fails at once; all waits of one
  // connection together may not exceed `total_wait`.
  std::chrono::seconds longest_wait{120};
  std::chrono::seconds total_wait{600};
};

struct GraphRequest {
  std::string method = "GET";  // GET, PATCH or POST
  // Absolute: https, or http on a loopback address.
  std::string url;
  // Sent as application/json when not empty.
  std::string json_body{};
  // When valid (>= 0), a 2xx answer's body is written into this descriptor,
  // which the caller owns and keeps open until the reply; it is emptied
  // before a retry. Otherwise the body is kept in GraphReply::body.
  int body_file = -1;
  // A longer body fails the request: Failure(MailStore, kMailServer).
  std::uint64_t max_body = std::uint64_t{16} << 20;
};

struct GraphReply {
  std::uint64_t tag = 0;
  // The last status, once retries are done: 2xx, or an answer that is not
  // retried (401 with a fresh token, 403, 404, ...).
  long status = 0;
  // The body when it was not written into a file; error answers always
  // (bounded to 64 KiB).
  std::string body;
  // Of the last answer, when it had one.
  std::chrono::seconds retry_after{0};
};

class GraphConnection {
 public:
  // The bearer token. `renew` is true after the server refused the previous
  // one with 401: the source gets a fresh one (a refresh). A second 401 in a
  // row with a fresh token is the request's reply.
  using TokenSource = std::function<std::string(bool renew)>;

  struct Stats {
    std::uint64_t requests = 0;  // sent, retries included
    std::uint64_t retries = 0;
    std::uint64_t connections = 0;  // opened
    std::uint64_t renewals = 0;     // of the token
  };

  // `cancel`, when given, must outlive the connection.
  GraphConnection(GraphConnectionOptions options, TokenSource token,
                  const Cancellation* cancel = nullptr);
  ~GraphConnection();
  GraphConnection(const GraphConnection&) = delete;
  GraphConnection& operator=(const GraphConnection&) = delete;

  // Queues a request; at most `max_in_flight` run at once. Returns its tag.
  std::uint64_t Start(GraphRequest request);
  // Runs the requests until one has ended, and returns it (in any order).
  // Throws Failure(MailStore, kServerUnreachable) when the server cannot be
  // reached, kServerNotTrusted when its certificate is refused,
  // kServerThrottled when it asks to wait longer than allowed, kMailServer
  // when a request still fails after its attempts; a cancel ends the wait
  // with a Cancelled failure. After a throw the connection is unusable.
  GraphReply WaitForAny();
  // The same for that one request; the replies of others that end meanwhile
  // are kept for WaitForAny.
  GraphReply WaitFor(std::uint64_t tag);
  GraphReply Call(GraphRequest request) { return WaitFor(Start(std::move(request))); }
  // Started and not yet returned.
  std::size_t Pending() const;
  Stats stats() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qm
