#include "mail/PasswordMailIndex.h"

#include <algorithm>
#include <functional>
#include <string>

#include "mail/ArchivePasswords.h"
#include "text/PasswordCandidates.h"

namespace qm {
namespace {

std::uint64_t SenderKey(std::string_view address) {
  return std::hash<std::string>{}(AddressKey(address));
}

std::int64_t Distance(std::int64_t a, std::int64_t b) { return a > b ? a - b : b - a; }

}  // namespace

void PasswordMailIndex::Add(std::int64_t message, std::string_view sender_address,
                            std::string_view subject) {
  entries_.push_back({message, SenderKey(sender_address), MentionsPassword(subject)});
}

std::vector<std::int64_t> PasswordMailIndex::CandidatesFor(std::string_view sender_address,
                                                           std::int64_t near,
                                                           std::size_t limit) const {
  const std::uint64_t sender = SenderKey(sender_address);
  std::vector<std::int64_t> found;
  for (const Entry& entry : entries_) {
    if (entry.mentions_password || (!sender_address.empty() && entry.sender == sender)) {
      found.push_back(entry.message);
    }
  }
  const auto nearer = [near](std::int64_t a, std::int64_t b) {
    if (near < 0) return a > b;
    const std::int64_t da = Distance(a, near), db = Distance(b, near);
    return da != db ? da < db : a > b;
  };
  const std::size_t kept = std::min(limit, found.size());
  std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(kept), found.end(),
                    nearer);
  found.resize(kept);
  return found;
}

}  // namespace qm
