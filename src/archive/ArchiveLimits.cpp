#include "archive/ArchiveLimits.h"

#include <algorithm>
#include <string>

#include "archive/ArchiveFailure.h"

namespace qm {
namespace {

[[noreturn]] void Refuse(const std::string& what) {
  throw ArchiveFailure(ArchiveProblem::kOverLimit, "archive refused: " + what);
}

// total > ratio * compressed, without overflowing the product.
bool OverRatio(std::uint64_t total, std::uint64_t compressed, std::uint64_t ratio) {
  if (compressed == 0) return total > 0;
  return total / compressed >= ratio && total > compressed * ratio;
}

}  // namespace

void CheckTotals(const DeclaredTotals& totals, const ArchiveLimits& limits) {
  if (totals.entries > limits.max_entries) {
    Refuse(std::to_string(totals.entries) + " entries, more than " +
           std::to_string(limits.max_entries));
  }
  if (totals.size > limits.max_total_size) {
    Refuse(std::to_string(totals.size) + " bytes unpacked, more than " +
           std::to_string(limits.max_total_size));
  }
  if (totals.size > limits.ratio_floor &&
      OverRatio(totals.size, totals.compressed_size, limits.max_ratio)) {
    Refuse(std::to_string(totals.size) + " bytes from " + std::to_string(totals.compressed_size) +
           " compressed, more than " + std::to_string(limits.max_ratio) + " times as many");
  }
}

void CheckDepth(std::string_view path, const ArchiveLimits& limits) {
  const auto depth = static_cast<std::size_t>(std::count(path.begin(), path.end(), '/')) + 1;
  if (depth > limits.max_depth) {
    Refuse("a path of " + std::to_string(depth) + " components, more than " +
           std::to_string(limits.max_depth));
  }
}

}  // namespace qm
