#pragma once
// Read marks through Graph's JSON batching: one POST to $batch carries up to
// twenty PATCH requests {"isRead": true}. Each answers on its own, so some
// may be throttled while others are done.

#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr std::size_t kReadMarksPerBatch = 20;

// The body of a batch that marks `ids` read (at most kReadMarksPerBatch);
// `mailbox_path` is "/me" or "/users/ADDRESS", percent-encoded. Item ids
// are the positions in `ids`.
std::string ReadMarkBatch(std::span<const std::string> ids, std::string_view mailbox_path);

struct ReadMarkAnswers {
  std::vector<std::size_t> to_retry;    // positions throttled or failed on the server's side
  std::chrono::seconds retry_after{0};  // the longest any of them asked for
  long refused_status = 0;              // an answer that will not change by retrying
  std::string refused_body;             // its body, for the details
};

// Reads the batch's answer to `count` marks. A mark done, or of a message
// that is gone (404), needs nothing more; 429 and 5xx are to be retried; an
// item without an answer is retried too. Throws Failure(MailStore,
// kMailServer) when the answer is not a batch answer.
ReadMarkAnswers ParseReadMarkAnswers(std::string_view json, std::size_t count);

// The path of a message, e.g. "/me/messages/AAMk...%3D".
std::string MessagePath(std::string_view mailbox_path, std::string_view id);

}  // namespace qm
