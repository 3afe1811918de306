#pragma once
// A logged-in, encrypted byte stream to an IMAP server. The connection side
// (TLS, certificate and host-name checks, login) happens before the IMAP
// store gets it; the store speaks the protocol over Send and Receive.

#include <cstddef>
#include <string_view>

namespace qm {

class ImapTransport {
 public:
  virtual ~ImapTransport() = default;

  // Sends all of `bytes`. Throws Failure(FailureKind::MailStore) when the
  // connection is lost or the idle timeout passes.
  virtual void Send(std::string_view bytes) = 0;

  // Receives at least one and at most `size` bytes into `buffer`, waiting up
  // to the idle timeout. Throws Failure(FailureKind::MailStore) on end of
  // stream, a lost connection or the timeout: it never returns 0.
  virtual std::size_t Receive(char* buffer, std::size_t size) = 0;
};

}  // namespace qm
