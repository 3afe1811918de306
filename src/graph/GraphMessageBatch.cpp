#include "graph/GraphMessageBatch.h"

#include <nlohmann/json.hpp>
#include <optional>

#include "graph/GraphBatchItems.h"
#include "graph/GraphReadMarks.h"
#include "text/StrictBase64.h"

namespace qm {
namespace {

using nlohmann::json;

BatchedMessage OutcomeOf(const json& item) {
  const long status = BatchItemStatus(item);
  if (status == 404) return {BatchedMessage::Outcome::kGone, {}};
  const auto body = item.find("body");
  if (status != 200 || body == item.end() || !body->is_string()) return {};
  std::optional<std::string> bytes = StrictBase64Decoded(body->get_ref<const std::string&>());
  if (!bytes) return {};
  return {BatchedMessage::Outcome::kArrived, std::move(*bytes)};
}

}  // namespace

std::string MessageBatch(std::span<const std::string_view> ids, std::string_view mailbox_path) {
  json requests = json::array();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    requests.push_back({{"id", std::to_string(i)},
                        {"method", "GET"},
                        {"url", MessagePath(mailbox_path, ids[i]) + "/$value"}});
  }
  return json{{"requests", std::move(requests)}}.dump();
}

std::vector<BatchedMessage> ParseMessageBatch(std::string text, std::size_t count) {
  const json batch = json::parse(text, nullptr, false);
  std::string().swap(text);  // the text's memory goes before the messages are decoded
  std::vector<BatchedMessage> messages(count);
  const auto items = BatchItemsByPosition(batch, count);
  if (!items) return messages;
  for (std::size_t position = 0; position < count; ++position) {
    if ((*items)[position] != nullptr) messages[position] = OutcomeOf(*(*items)[position]);
  }
  return messages;
}

}  // namespace qm
