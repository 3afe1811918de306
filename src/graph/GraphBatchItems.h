#pragma once
// The answers of a $batch, by the position their ids name: the store's
// batches number their items from "0", and Graph answers them in any order.

#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <vector>

namespace qm {

// For each of `count` items, its answer object in `batch`, or nullptr when
// none came (the first counts when several name the same item); nullopt when
// `batch` is no batch answer (no "responses" array).
std::optional<std::vector<const nlohmann::json*>> BatchItemsByPosition(const nlohmann::json& batch,
                                                                       std::size_t count);

// An item's "status"; 0 when it has none.
long BatchItemStatus(const nlohmann::json& item);

}  // namespace qm
