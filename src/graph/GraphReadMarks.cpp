#include "graph/GraphReadMarks.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <nlohmann/json.hpp>

#include "base/Failure.h"
#include "graph/GraphBatchItems.h"
#include "text/PercentEncoding.h"

namespace qm {
namespace {

using nlohmann::json;

Failure Malformed(const std::string& what) {
  return Failure(FailureKind::MailStore, Cause::kMailServer,
                 "Microsoft Graph sent a batch answer that cannot be read: " + what);
}

// The item's Retry-After in seconds (header names ignore letter case).
std::chrono::seconds RetryAfterOf(const json& answer) {
  const auto headers = answer.find("headers");
  if (headers == answer.end() || !headers->is_object()) return std::chrono::seconds(0);
  for (const auto& [name, value] : headers->items()) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower != "retry-after" || !value.is_string()) continue;
    const std::string& text = value.get_ref<const std::string&>();
    long seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error == std::errc() && seconds > 0) return std::chrono::seconds(std::min(seconds, 86400L));
  }
  return std::chrono::seconds(0);
}

bool IsRetried(long status) { return status == 429 || status >= 500 || status == 0; }

}  // namespace

std::string MessagePath(std::string_view mailbox_path, std::string_view id) {
  return std::string(mailbox_path) + "/messages/" + PercentEncoded(id);
}

std::string ReadMarkBatch(std::span<const std::string> ids, std::string_view mailbox_path) {
  json requests = json::array();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    requests.push_back({{"id", std::to_string(i)},
                        {"method", "PATCH"},
                        {"url", MessagePath(mailbox_path, ids[i])},
                        {"headers", {{"Content-Type", "application/json"}}},
                        {"body", {{"isRead", true}}}});
  }
  return json{{"requests", std::move(requests)}}.dump();
}

ReadMarkAnswers ParseReadMarkAnswers(std::string_view text, std::size_t count) {
  const json batch = json::parse(text, nullptr, false);
  const auto items = BatchItemsByPosition(batch, count);
  if (!items) throw Malformed("no \"responses\"");
  ReadMarkAnswers result;
  for (std::size_t position = 0; position < count; ++position) {
    const json* answer = (*items)[position];
    const long status = answer == nullptr ? 0 : BatchItemStatus(*answer);
    if (IsRetried(status)) {  // an item without an answer too
      result.to_retry.push_back(position);
      if (answer != nullptr)
        result.retry_after = std::max(result.retry_after, RetryAfterOf(*answer));
    } else if ((status < 200 || status >= 300) && status != 404 && result.refused_status == 0) {
      result.refused_status = status;
      const auto body = answer->find("body");
      result.refused_body = body == answer->end() ? "" : body->dump().substr(0, 4096);
    }
  }
  return result;
}

}  // namespace qm
