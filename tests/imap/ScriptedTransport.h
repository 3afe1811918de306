#pragma once
// A fake IMAP connection that follows a script of exchanges: every line the
// client sends must be the next client step, and the server steps are played
// back when the client reads. Server bytes can be handed out in small pieces to
// exercise the reader's refills. Mismatches are recorded (not thrown, since the
// store's destructor swallows exceptions) for the test to check.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Failure.h"
#include "imap/ImapTransport.h"

namespace qm::testing {

struct ScriptStep {
  bool from_client = false;
  std::string bytes;
};

// A client line (CRLF added).
inline ScriptStep Client(std::string line) { return {true, std::move(line) + "\r\n"}; }
// Server bytes exactly as given.
inline ScriptStep Server(std::string bytes) { return {false, std::move(bytes)}; }
// A "{n}" CRLF announcement followed by `bytes`.
inline std::string LiteralOf(std::string_view bytes) {
  return "{" + std::to_string(bytes.size()) + "}\r\n" + std::string(bytes);
}

// Shared between the test and the transport the store owns.
struct Script {
  std::vector<ScriptStep> steps;
  std::size_t next = 0;      // the step being played
  std::size_t offset = 0;    // bytes of that step already sent or matched
  std::size_t piece = 4096;  // most bytes handed out per Receive
  std::vector<std::string> mismatches;

  bool Finished() const { return next == steps.size(); }
};

class ScriptedTransport : public ImapTransport {
 public:
  explicit ScriptedTransport(std::shared_ptr<Script> script) : script_(std::move(script)) {}

  void Send(std::string_view bytes) override {
    Script& s = *script_;
    while (!bytes.empty()) {
      if (s.Finished() || !s.steps[s.next].from_client) {
        s.mismatches.push_back("unexpected client bytes: " + std::string(bytes));
        throw Lost();
      }
      const std::string& expected = s.steps[s.next].bytes;
      const std::size_t n = std::min(bytes.size(), expected.size() - s.offset);
      if (bytes.substr(0, n) != std::string_view(expected).substr(s.offset, n)) {
        s.mismatches.push_back("client sent " + std::string(bytes) + " instead of " + expected);
        throw Lost();
      }
      bytes.remove_prefix(n);
      Advance(n);
    }
  }

  std::size_t Receive(char* buffer, std::size_t size) override {
    Script& s = *script_;
    if (s.Finished()) throw Lost();  // the server hung up
    if (s.steps[s.next].from_client) {
      s.mismatches.push_back("client waits for an answer before sending " + s.steps[s.next].bytes);
      throw Lost();
    }
    const std::string& bytes = s.steps[s.next].bytes;
    const std::size_t n = std::min({size, s.piece, bytes.size() - s.offset});
    std::copy_n(bytes.data() + s.offset, n, buffer);
    Advance(n);
    return n;
  }

 private:
  static Failure Lost() {
    return Failure(FailureKind::MailStore, Cause::kMailServer, "connection lost");
  }

  void Advance(std::size_t n) {
    Script& s = *script_;
    s.offset += n;
    if (s.offset == s.steps[s.next].bytes.size()) {
      ++s.next;
      s.offset = 0;
    }
  }

  std::shared_ptr<Script> script_;
};

}  // namespace qm::testing
