#pragma once
// Bounds on what an archive may unpack to, against archives built to fill
// the disk (a gigabyte of zeros compresses to a megabyte) or to bury a file
// in a path no folder can hold.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qm {

struct ArchiveLimits {
  // Entries, folders included: 10,000 is an ordinary project folder.
  std::uint64_t max_entries = 50'000;
  // The sum of the entries' uncompressed sizes.
  std::uint64_t max_total_size = std::uint64_t{4} << 30;  // 4 GiB
  // Above `ratio_floor` bytes in all, the total may be at most `max_ratio`
  // times the compressed total: small text files compress that much, large
  // real files never do.
  std::uint64_t ratio_floor = std::uint64_t{100} << 20;  // 100 MiB
  std::uint64_t max_ratio = 100;
  // Components of one entry's path.
  std::size_t max_depth = 32;
};

// What the central directory declares, summed over the entries.
struct DeclaredTotals {
  std::uint64_t entries = 0;
  std::uint64_t size = 0;
  std::uint64_t compressed_size = 0;
};

// Throws ArchiveFailure(kOverLimit) when `totals` exceed `limits`.
void CheckTotals(const DeclaredTotals& totals, const ArchiveLimits& limits);

// Throws ArchiveFailure(kOverLimit) when the '/'-separated `path` has more
// than `limits.max_depth` components.
void CheckDepth(std::string_view path, const ArchiveLimits& limits);

}  // namespace qm
