#pragma once
// An IMAP server on 127.0.0.1 that says what a test wants it to, for runs of
// the real binary: TLS from the first byte (a self-signed certificate made
// for it, to trust as a CA file), on a thread of its own, stopped in the
// destructor; a client that stops talking is dropped after a few seconds.
// Every session goes alike: any sign-on is accepted, COMPRESS is refused,
// SELECT claims the number of messages the test chose, the listing sends
// the header blocks of the messages the test gave, and the fetch of one
// message its bytes. Other commands are simply answered OK. A server given a
// refusal instead answers every command after the sign-on but LOGOUT with
// NO and those words, sent byte for byte, as a hostile server would.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"
#include "tests/support/TempDir.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace qm::testing {

struct ScriptedMessage {
  std::string header_block;  // what the listing sends for SUBJECT and FROM
  std::string bytes;         // the whole message
};

class ScriptedImapServer {
 public:
  ScriptedImapServer(std::uint64_t claimed, std::vector<ScriptedMessage> messages)
      : ScriptedImapServer(claimed, std::move(messages), "") {}
  explicit ScriptedImapServer(std::string refusal)
      : ScriptedImapServer(0, {}, std::move(refusal)) {}
  ScriptedImapServer(std::uint64_t claimed, std::vector<ScriptedMessage> messages,
                     std::string refusal);
  ~ScriptedImapServer();
  ScriptedImapServer(const ScriptedImapServer&) = delete;
  ScriptedImapServer& operator=(const ScriptedImapServer&) = delete;

  int port() const { return port_; }
  std::filesystem::path certificate() const { return dir_ / "cert.pem"; }
  // "imaps://tester@127.0.0.1:PORT/INBOX"
  std::string StoreValue() const;

 private:
  struct ContextFree {
    void operator()(SSL_CTX* context) const;
  };

  void MakeCertificate() const;
  // One session at a time: the program opens one.
  void Serve();
  void Session(SSL* ssl);
  bool Answer(SSL* ssl, std::string& pending, const std::string& line);

  TempDir dir_;
  std::uint64_t claimed_;
  std::vector<ScriptedMessage> messages_;
  std::string refusal_;
  std::unique_ptr<SSL_CTX, ContextFree> context_;
  UniqueFd listener_;
  int port_ = 0;
  std::atomic<bool> stopping_ = false;
  std::thread thread_;
};

}  // namespace qm::testing
