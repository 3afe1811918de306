#pragma once
// Archives made for the tests with libzip's writing API, for exact control of
// names, flags and methods (ToolArchive.h makes them with zip and 7z).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qm::testing {

enum class NameMark {
  kNone,  // the bytes as they are, no flag (CP932, macOS' NFD, ASCII)
  kUtf8,  // general-purpose flag bit 11
};

struct ZipInput {
  std::string name;  // bytes as stored; ending in '/' makes a folder
  std::string data;
  NameMark mark = NameMark::kNone;
  bool stored = false;  // no compression
};

void MakeZip(const std::filesystem::path& archive, const std::vector<ZipInput>& inputs);

// One deflated entry "zeros.bin" of `size` zero bytes, streamed into the
// compressor: nothing that large is ever in memory or on disk.
void MakeZerosZip(const std::filesystem::path& archive, std::uint64_t size);

}  // namespace qm::testing
