#include "save/TakenNames.h"

#include <algorithm>
#include <cstring>

namespace qm {

std::uint64_t TakenNames::SizeKey(const std::string& name, std::int64_t size) {
  return std::hash<std::string>{}(name) ^
         (static_cast<std::uint64_t>(size) * 0x9e3779b97f4a7c15ull);
}

std::uint64_t TakenNames::ContentKey(const std::string& name, std::int64_t size,
                                     const std::string& digest) {
  std::uint64_t prefix = 0;
  std::memcpy(&prefix, digest.data(), std::min(sizeof prefix, digest.size()));
  return SizeKey(name, size) ^ (prefix * 0xff51afd7ed558ccdull);
}

int TakenNames::count(const std::string& name) const {
  const auto known = counts_.find(name);
  return known == counts_.end() ? 0 : known->second;
}

void TakenNames::Add(const std::string& name, std::int64_t size, const std::string& digest) {
  const int number = ++counts_[name];
  if (size < 0) return;
  sizes_.insert(SizeKey(name, size));
  if (digest.empty()) {
    not_hashed_.emplace(SizeKey(name, size), number);
  } else {
    by_content_.emplace(ContentKey(name, size, digest), number);
  }
}

bool TakenNames::HasSize(const std::string& name, std::int64_t size) const {
  return size >= 0 && sizes_.contains(SizeKey(name, size));
}

std::vector<int> TakenNames::WithContent(const std::string& name, std::int64_t size,
                                         const std::string& digest, const DigestOf& digest_of) {
  const auto [first_waiting, last_waiting] = not_hashed_.equal_range(SizeKey(name, size));
  for (auto it = first_waiting; it != last_waiting; ++it) {
    const std::string found = digest_of(it->second);
    if (!found.empty()) by_content_.emplace(ContentKey(name, size, found), it->second);
  }
  not_hashed_.erase(first_waiting, last_waiting);
  std::vector<int> numbers;
  if (digest.empty()) return numbers;
  const auto [first, last] = by_content_.equal_range(ContentKey(name, size, digest));
  for (auto it = first; it != last; ++it) numbers.push_back(it->second);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

}  // namespace qm
