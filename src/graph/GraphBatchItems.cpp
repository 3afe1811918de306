#include "graph/GraphBatchItems.h"

#include <charconv>
#include <nlohmann/json.hpp>
#include <string>

namespace qm {
namespace {

using nlohmann::json;

// The position an item's id names, or `count` when it names none.
std::size_t PositionOf(const json& answer, std::size_t count) {
  const auto id = answer.find("id");
  if (id == answer.end() || !id->is_string()) return count;
  const std::string& text = id->get_ref<const std::string&>();
  std::size_t position = count;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), position);
  return error == std::errc() && end == text.data() + text.size() && position < count ? position
                                                                                      : count;
}

}  // namespace

std::optional<std::vector<const json*>> BatchItemsByPosition(const json& batch, std::size_t count) {
  if (!batch.is_object()) return std::nullopt;
  const auto responses = batch.find("responses");
  if (responses == batch.end() || !responses->is_array()) return std::nullopt;
  std::vector<const json*> items(count, nullptr);
  for (const json& answer : *responses) {
    if (!answer.is_object()) continue;
    const std::size_t position = PositionOf(answer, count);
    if (position < count && items[position] == nullptr) items[position] = &answer;
  }
  return items;
}

long BatchItemStatus(const json& item) {
  const auto status = item.find("status");
  return status != item.end() && status->is_number_integer() ? status->get<long>() : 0;
}

}  // namespace qm
