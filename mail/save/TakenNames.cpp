#include "mail/save/TakenNames.h"

namespace qm {

void TakenNames::Add(off_t size, std::string digest) {
  const int number = ++count_;
  if (size < 0) return;
  if (digest.empty()) {
    not_hashed_[size].push_back(number);
  } else {
    by_content_[{size, std::move(digest)}].push_back(number);
  }
}

bool TakenNames::HasSize(off_t size) const {
  if (not_hashed_.contains(size)) return true;
  const auto first = by_content_.lower_bound({size, std::string()});
  return first != by_content_.end() && first->first.first == size;
}

std::vector<int> TakenNames::WithContent(off_t size, const std::string& digest,
                                         const DigestOf& digest_of) {
  if (const auto waiting = not_hashed_.find(size); waiting != not_hashed_.end()) {
    for (const int number : waiting->second) {
      std::string found = digest_of(number);
      if (!found.empty()) by_content_[{size, std::move(found)}].push_back(number);
    }
    not_hashed_.erase(waiting);
  }
  const auto same = by_content_.find({size, digest});
  return same == by_content_.end() ? std::vector<int>{} : same->second;
}

}  // namespace qm
