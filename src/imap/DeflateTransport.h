#pragma once
// The IMAP stream compressed both ways with raw DEFLATE (RFC 4978), over the
// transport it takes over. What is sent is flushed to the wire at once
// (Z_SYNC_FLUSH), so a command never waits in the compressor; what arrives
// is inflated a bounded piece at a time, so no amount of compressed data
// makes it hold more than one buffer.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "imap/ImapTransport.h"

namespace qm {

class DeflateTransport : public ImapTransport {
 public:
  // `received` holds compressed bytes that were read before the switch.
  DeflateTransport(std::unique_ptr<ImapTransport> inner, std::string received);
  ~DeflateTransport() override;
  DeflateTransport(const DeflateTransport&) = delete;
  DeflateTransport& operator=(const DeflateTransport&) = delete;

  void Send(std::string_view bytes) override;
  std::size_t Receive(char* buffer, std::size_t size) override;

 private:
  struct Streams;

  std::unique_ptr<ImapTransport> inner_;
  std::unique_ptr<Streams> streams_;
  std::string input_;  // compressed bytes received and not inflated yet
  std::size_t input_at_ = 0;
};

}  // namespace qm
