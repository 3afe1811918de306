// Feeds arbitrary bytes to the reading of a ZIP archive as the scan reads a
// saved attachment: the central directory within the limits, the test of a
// password, and every entry written out. Nothing may crash, hang or grow
// without bound, and no entry may write more than it declares.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "archive/ArchiveFailure.h"
#include "archive/ZipArchive.h"
#include "base/Failure.h"
#include "fuzz/MemoryFile.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "violated: %s\n", what);
  std::abort();
}

std::uint64_t SizeOf(int fd) {
  struct stat info {};
  Require(::fstat(fd, &info) == 0, "the output can be measured");
  return static_cast<std::uint64_t>(info.st_size);
}

void WriteEntries(qm::ZipArchive& archive, const char* password) {
  for (std::size_t i = 0; i < archive.entries().size(); ++i) {
    const qm::UniqueFd out(::memfd_create("fuzz-entry", 0));
    if (!out.valid()) std::abort();
    try {
      archive.WriteEntry(i, out.get(), password);
    } catch (const qm::Failure&) {
      // A damaged entry, a wrong password, a CRC that does not match.
    }
    Require(SizeOf(out.get()) <= archive.entries()[i].size, "an entry writes at most its size");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qm::UniqueFd input = MemoryFile(data, size);
  // Small limits keep each run short; the checks are the same.
  qm::ArchiveLimits limits;
  limits.max_total_size = std::uint64_t{16} << 20;
  limits.ratio_floor = std::uint64_t{1} << 20;
  try {
    qm::ZipArchive archive(input.get(), limits);
    const char* password = archive.Accepts("password") ? "password" : "";
    WriteEntries(archive, password);
  } catch (const qm::ArchiveFailure&) {
    // Not an archive, or beyond the limits: kept as it came.
  }
  return 0;
}
