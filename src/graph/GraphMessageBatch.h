#pragma once
// Small messages fetched as MIME through Graph's JSON batching: one POST to
// $batch carries up to twenty GET .../messages/{id}/$value. Graph answers an
// item whose body is not JSON with a JSON string holding the body
// base64-encoded. That is what Graph does, not what it documents, so any
// other answer to an item sends the store to fetch that message on its own.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::size_t kMessagesPerBatch = 20;

// The body of a batch that fetches the messages `ids` (at most
// kMessagesPerBatch) as MIME; `mailbox_path` is "/me" or "/users/ADDRESS",
// percent-encoded. Item ids are the positions in `ids`.
std::string MessageBatch(std::span<const std::string_view> ids, std::string_view mailbox_path);

struct BatchedMessage {
  enum class Outcome {
    kArrived,     // `bytes` is the message
    kGone,        // deleted since the listing (404)
    kFetchAlone,  // any other answer, or none: to be fetched on its own
  };
  Outcome outcome = Outcome::kFetchAlone;
  std::string bytes;
};

// What the answer `json` to a batch of `count` messages brought for each,
// by position. An answer that is no batch answer sends each message to be
// fetched on its own. `json` is taken so that its memory goes before the
// messages are decoded.
std::vector<BatchedMessage> ParseMessageBatch(std::string json, std::size_t count);

}  // namespace qm
