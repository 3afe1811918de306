#pragma once
// The IMAP connection on libcurl: curl connects (TLS from the first byte or
// STARTTLS), verifies the certificate and the host name, and logs in; then the
// IMAP store speaks the protocol itself over Send and Receive.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "imap/ImapAccount.h"
#include "imap/ImapTransport.h"
#include "imap/ProgressWatch.h"

namespace qm {

class Cancellation;

// How long the server may take. The sign-on (connect, TLS handshake, login)
// must finish within `connect`; after it, fewer than `least_bytes` moved in
// `idle` of waiting for the server ends the connection as stalled.
struct ImapTimeouts {
  std::chrono::milliseconds connect{20'000};
  std::chrono::milliseconds idle{60'000};
  std::size_t least_bytes = 1024;
};

class CurlImapTransport : public ImapTransport {
 public:
  // Connects and logs in. Throws Failure(SignOn, kLoginFailed) when the server
  // cannot be reached, TLS or the certificate check fails, STARTTLS is not
  // offered or the login is refused; Failure(SignOn, kServerUnreachable)
  // when the sign-on takes longer than `timeouts.connect`; Failure(SignOn,
  // kNoMailbox) when the CA file cannot be read. The password in `account` is wiped afterwards.
  // A request of `cancel` (which must outlive the transport) ends the
  // connection and every later wait at once with a Cancelled failure.
  static std::unique_ptr<CurlImapTransport> Connect(ImapAccount& account,
                                                    ImapTimeouts timeouts = {},
                                                    const Cancellation* cancel = nullptr);
  ~CurlImapTransport() override;
  CurlImapTransport(const CurlImapTransport&) = delete;
  CurlImapTransport& operator=(const CurlImapTransport&) = delete;

  void Send(std::string_view bytes) override;
  std::size_t Receive(char* buffer, std::size_t size) override;

 private:
  // libcurl's easy handle type CURL is void: held as such, so that this
  // header needs none of libcurl's.
  CurlImapTransport(void* handle, std::string host, const ImapTimeouts& timeouts,
                    const Cancellation* cancel)
      : handle_(handle),
        host_(std::move(host)),
        progress_(timeouts.idle, timeouts.least_bytes),
        cancel_(cancel) {}
  void WaitForSocket(bool for_writing);

  void* handle_;
  std::string host_;  // "host:port", for messages
  ProgressWatch progress_;
  const Cancellation* cancel_;
};

}  // namespace qm
