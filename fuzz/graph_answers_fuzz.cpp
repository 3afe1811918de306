// Plays arbitrary bytes as Microsoft Graph's answers: a page of the inbox's
// listing, the answer to a batch of read marks, the answer to a batch of
// messages (base64 in JSON), and an error answer. Any
// refusal must be a Failure of the mail store; what is kept must stay within
// the bounds (ids, fields, the positions of the marks to send again), and a
// next page may only be under the API root the token goes to.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/Failure.h"
#include "graph/GraphErrors.h"
#include "graph/GraphListing.h"
#include "graph/GraphMessageBatch.h"
#include "graph/GraphReadMarks.h"
#include "store/HeaderBlock.h"

namespace {

constexpr char kRoot[] = "https://graph.example/v1.0";
constexpr std::size_t kMarks = 20;

void Check(bool holds) {
  if (!holds) std::abort();
}

void Listing(std::string_view text) {
  try {
    const qm::ListingPage page = qm::ParseListingPage(text, kRoot);
    for (const qm::ListedMessage& message : page.messages) {
      Check(!message.id.empty() && message.id.size() <= qm::kMaxGraphIdBytes);
      Check(message.subject.size() <= qm::kMaxHeaderFieldBytes);
      Check(message.sender_name.size() <= qm::kMaxHeaderFieldBytes);
      Check(message.sender_address.size() <= qm::kMaxHeaderFieldBytes);
    }
    Check(page.next_link.empty() || page.next_link.starts_with(std::string(kRoot) + "/"));
  } catch (const qm::Failure& failure) {
    Check(failure.kind() == qm::FailureKind::MailStore);
  }
}

void ReadMarks(std::string_view text) {
  try {
    const qm::ReadMarkAnswers answers = qm::ParseReadMarkAnswers(text, kMarks);
    Check(answers.to_retry.size() <= kMarks);
    for (const std::size_t position : answers.to_retry) Check(position < kMarks);
  } catch (const qm::Failure& failure) {
    Check(failure.kind() == qm::FailureKind::MailStore);
  }
}

// Each message comes, is gone or is to be fetched alone; what came is no
// larger than its base64 text allows.
void Messages(std::string_view text) {
  const std::vector<qm::BatchedMessage> messages = qm::ParseMessageBatch(std::string(text), kMarks);
  Check(messages.size() == kMarks);
  for (const qm::BatchedMessage& message : messages) {
    Check(message.outcome == qm::BatchedMessage::Outcome::kArrived || message.bytes.empty());
    Check(message.bytes.size() <= text.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Listing(text);
  ReadMarks(text);
  Messages(text);
  const qm::Failure failure = qm::MailboxRequestFailure("fuzz", 404, text);
  Check(std::string_view(failure.what()).size() < 2048);
  return 0;
}
