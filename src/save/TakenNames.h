#pragma once
// What one scan has learned of the destination folder's entries "name",
// "name (2)", "name (3)", ... for each name asked for: how many are taken,
// and what they hold. The search for a free name goes on where it stopped,
// and a new file is compared byte by byte only with entries of its name and
// size whose digest matches; each entry is read for its digest at most once.
// A few bytes are kept per entry (a match is always confirmed byte by byte),
// in tables shared by all names, so that many names cost little.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qm {

class TakenNames {
 public:
  // The digest of the entry of a number ("" when it cannot be read).
  using DigestOf = std::function<std::string(int number)>;

  // Numbers 1..count(name) of `name` are known to be taken.
  int count(const std::string& name) const;

  // Number count(name) + 1 of `name` is taken by an entry of `size` (-1:
  // not a regular file) whose digest is `digest`, or not known yet when "".
  void Add(const std::string& name, std::int64_t size, const std::string& digest = {});

  // True when an entry of `name` of `size` is known.
  bool HasSize(const std::string& name, std::int64_t size) const;

  // The numbers of the entries of `name` and `size` whose digest is (very
  // likely) `digest`, in order. Entries of that name and size without a
  // digest yet get theirs from `digest_of` first.
  std::vector<int> WithContent(const std::string& name, std::int64_t size,
                               const std::string& digest, const DigestOf& digest_of);

 private:
  static std::uint64_t SizeKey(const std::string& name, std::int64_t size);
  static std::uint64_t ContentKey(const std::string& name, std::int64_t size,
                                  const std::string& digest);

  std::unordered_map<std::string, int> counts_;
  std::unordered_set<std::uint64_t> sizes_;                 // SizeKey of every regular entry
  std::unordered_multimap<std::uint64_t, int> not_hashed_;  // numbers, by SizeKey
  std::unordered_multimap<std::uint64_t, int> by_content_;  // numbers, by ContentKey
};

}  // namespace qm
