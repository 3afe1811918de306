#include "mime/ScratchFile.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "base/Failure.h"
#include "base/WriteAll.h"

namespace qm {
namespace {

const std::string kWhat = "a scratch file of files found in a message";

// Fills `buffer` from `at`; a scratch file that comes back shorter than
// written is a failing disk.
void ReadExactly(int fd, char* buffer, std::size_t size, std::int64_t at) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t got = ::pread(fd, buffer + done, size - done, at + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0)
      throw FileFailure(FailureKind::FileWrite, got < 0 ? errno : EIO, "reading " + kWhat);
    done += static_cast<std::size_t>(got);
  }
}

}  // namespace

void ScratchFile::Append(std::string_view bytes) {
  if (::lseek(fd_.get(), size_, SEEK_SET) < 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "writing " + kWhat);
  }
  WriteAll(fd_.get(), bytes.data(), bytes.size(), kWhat);
  size_ += static_cast<std::int64_t>(bytes.size());
}

void ScratchFile::Truncate(std::int64_t size) {
  if (size >= size_) return;
  if (::ftruncate(fd_.get(), size) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "writing " + kWhat);
  }
  size_ = size;
}

std::string ScratchFile::Read(Span span) const {
  std::string bytes(static_cast<std::size_t>(span.size), '\0');
  ReadExactly(fd_.get(), bytes.data(), bytes.size(), span.begin);
  return bytes;
}

void ScratchFile::CopyTo(Span span, int to, const std::string& what) const {
  std::array<char, kScratchCopyBlock> block;
  for (std::int64_t at = span.begin; at < span.end();) {
    const auto size =
        static_cast<std::size_t>(std::min<std::int64_t>(kScratchCopyBlock, span.end() - at));
    ReadExactly(fd_.get(), block.data(), size, at);
    WriteAll(to, block.data(), size, what);
    at += static_cast<std::int64_t>(size);
  }
}

}  // namespace qm
