#pragma once
// What one scan has learned of the entries "name", "name (2)", "name (3)", ...
// of the destination folder for one name asked for: how many are taken, and
// what they hold. The search for a free name goes on where it stopped, and a
// new file is compared byte by byte only with entries of its size whose
// digest matches; each entry is read for its digest at most once.

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qm {

class TakenNames {
 public:
  // The digest of the entry of a number ("" when it cannot be read).
  using DigestOf = std::function<std::string(int number)>;

  // Numbers 1..count() are known to be taken.
  int count() const { return count_; }

  // Number count() + 1 is taken by an entry of `size` (-1: not a regular
  // file) whose digest is `digest`, or not known yet when "".
  void Add(off_t size, std::string digest = {});

  // True when an entry of `size` is known.
  bool HasSize(off_t size) const;

  // The numbers of the entries of `size` whose digest is `digest`. Entries
  // of that size without a digest yet get theirs from `digest_of` first.
  std::vector<int> WithContent(off_t size, const std::string& digest, const DigestOf& digest_of);

 private:
  int count_ = 0;
  std::unordered_map<off_t, std::vector<int>> not_hashed_;  // numbers, by size
  std::map<std::pair<off_t, std::string>, std::vector<int>> by_content_;
};

}  // namespace qm
