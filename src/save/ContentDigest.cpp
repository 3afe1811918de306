#include "save/ContentDigest.h"

#include <array>
#include <cerrno>
#include <string_view>

#include "base/FileSystem.h"
#include "base/Sha256.h"
#include "base/UniqueFd.h"

namespace qm {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

std::string ContentDigest(int dir, const std::string& name) {
  const UniqueFd file(fs::OpenForReading(dir, name));
  if (!file.valid()) return {};
  return ContentDigestOf(file.get());
}

std::string ContentDigestOf(int fd) {
  Sha256 sha;
  std::array<char, kChunk> buffer;
  for (std::uint64_t offset = 0;;) {
    const std::int64_t got = fs::ReadAt(fd, buffer.data(), buffer.size(), offset);
    if (got < 0) return {};
    if (got == 0) break;
    sha.Update(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    offset += static_cast<std::uint64_t>(got);
  }
  const Sha256::Digest digest = sha.Finish();
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

}  // namespace qm
