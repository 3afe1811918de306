#include "imap/ImapUidSet.h"

#include <utility>

namespace qm {
namespace {

std::string Range(std::uint32_t first, std::uint32_t last) {
  if (first == last) return std::to_string(first);
  return std::to_string(first) + ':' + std::to_string(last);
}

// Consecutive runs of UIDs as (first, last) pairs.
std::vector<std::pair<std::uint32_t, std::uint32_t>> Runs(const std::set<std::uint32_t>& uids) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
  for (const std::uint32_t uid : uids) {
    if (!runs.empty() && runs.back().second + 1 == uid) {
      runs.back().second = uid;
    } else {
      runs.emplace_back(uid, uid);
    }
  }
  return runs;
}

}  // namespace

std::vector<std::string> UidSets(const std::set<std::uint32_t>& uids, std::size_t max_ranges) {
  if (max_ranges == 0) max_ranges = 1;
  std::vector<std::string> sets;
  std::size_t in_current = 0;
  for (const auto& [first, last] : Runs(uids)) {
    if (sets.empty() || in_current == max_ranges) {
      sets.emplace_back();
      in_current = 0;
    }
    if (in_current > 0) sets.back() += ',';
    sets.back() += Range(first, last);
    ++in_current;
  }
  return sets;
}

}  // namespace qm
