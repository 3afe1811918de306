#include "imap/ImapConnection.h"

#include <optional>
#include <utility>

#include "base/Failure.h"
#include "imap/DeflateTransport.h"

namespace qm {
namespace {

Failure Malformed() {
  return Failure(FailureKind::MailStore, Cause::kMailServer,
                 "the mail server sent a malformed response");
}

}  // namespace

// The parser reads from this one object for the whole session; what it reads
// from can change underneath, when compression starts.
class ImapConnection::SwitchableTransport : public ImapTransport {
 public:
  explicit SwitchableTransport(std::unique_ptr<ImapTransport> inner) : inner_(std::move(inner)) {}
  void Send(std::string_view bytes) override { inner_->Send(bytes); }
  std::size_t Receive(char* buffer, std::size_t size) override {
    return inner_->Receive(buffer, size);
  }
  std::unique_ptr<ImapTransport> Release() { return std::move(inner_); }
  void Reset(std::unique_ptr<ImapTransport> inner) { inner_ = std::move(inner); }

 private:
  std::unique_ptr<ImapTransport> inner_;
};

ImapConnection::ImapConnection(std::unique_ptr<ImapTransport> transport)
    : transport_(std::make_unique<SwitchableTransport>(std::move(transport))),
      parser_(*transport_) {}

ImapConnection::~ImapConnection() = default;

// Whatever goes wrong in `step` leaves the stream out of step.
template <typename Step>
auto ImapConnection::Guarded(Step step) {
  if (broken_) {
    throw Failure(FailureKind::MailStore, Cause::kMailServer,
                  "the connection to the mail server is no longer usable");
  }
  try {
    return step();
  } catch (...) {
    broken_ = true;
    throw;
  }
}

void ImapConnection::Send(const std::string& command, Handler done) {
  Guarded([&] {
    const std::string tag = "a" + std::to_string(next_tag_++);
    under_way_.emplace(tag, std::move(done));
    transport_->Send(tag + " " + command + "\r\n");
  });
}

// What a completion throws is the caller's verdict on a well-formed answer
// (a refusal, say): the stream is still in step. Anything thrown while
// reading or handling untagged data is not.
void ImapConnection::ReadOne(const Handler& untagged) {
  Handler done;
  ImapResponse response = Guarded([&] {
    ImapResponse next = parser_.Next();
    if (next.kind == ImapResponse::Kind::kContinuation) throw Malformed();
    if (next.kind == ImapResponse::Kind::kTagged) {
      const auto command = under_way_.find(next.tag);
      if (command == under_way_.end()) throw Malformed();
      done = std::move(command->second);
      under_way_.erase(command);
      return next;
    }
    Track(next);
    if (untagged) untagged(next);
    return next;
  });
  if (done) done(response);
}

ImapResponse ImapConnection::Run(const std::string& command, const Handler& untagged) {
  std::optional<ImapResponse> completion;
  Send(command, [&completion](const ImapResponse& done) { completion = done; });
  while (!completion) ReadOne(untagged);
  return std::move(*completion);
}

void ImapConnection::Drain(const Handler& untagged) {
  while (!under_way_.empty()) ReadOne(untagged);
}

void ImapConnection::Track(const ImapResponse& response) {
  if (response.keyword == "BYE") {
    throw Failure(FailureKind::MailStore, Cause::kMailServer,
                  "the mail server closed the connection: " + response.text);
  }
  if (response.keyword == "EXISTS") exists_ = response.number;
  if (response.keyword == "EXPUNGE" && exists_ > 0) --exists_;
}

// Both directions are compressed from the byte after the tagged OK on; what
// the parser already holds beyond it was compressed too.
bool ImapConnection::Compress() {
  const ImapResponse done = Run("COMPRESS DEFLATE", nullptr);
  if (done.keyword != "OK") return false;
  Guarded([&] {
    transport_->Reset(
        std::make_unique<DeflateTransport>(transport_->Release(), parser_.TakeUnparsed()));
  });
  return true;
}

// Only on a quiet stream: with fetches under way their messages would have
// to be read first. The server's goodbye is not waited for: a far server
// would cost a round trip for nothing.
void ImapConnection::Logout() noexcept {
  if (broken_ || !under_way_.empty()) return;
  try {
    transport_->Send("a" + std::to_string(next_tag_++) + " LOGOUT\r\n");
  } catch (...) {
    // Logging out is a courtesy: the connection closes with the transport.
  }
}

}  // namespace qm
