#include "mime/ScratchFile.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/WriteAll.h"

namespace qm {
namespace {

const std::string kWhat = "a scratch file of files found in a message";

// Fills `buffer` from `at`; a scratch file that comes back shorter than
// written is a failing disk.
void ReadExactly(int fd, char* buffer, std::size_t size, std::int64_t at) {
  for (std::size_t done = 0; done < size;) {
    const std::int64_t got =
        fs::ReadAt(fd, buffer + done, size - done, static_cast<std::uint64_t>(at) + done);
    if (got <= 0)
      throw FileFailure(FailureKind::FileWrite, got < 0 ? errno : EIO, "reading " + kWhat);
    done += static_cast<std::size_t>(got);
  }
}

}  // namespace

UniqueFd CreateScratchFileIn(int folder) {
  UniqueFd fd(fs::CreateScratchFile(folder));
  if (!fd.valid()) throw FileFailure(FailureKind::FileWrite, errno, "cannot create " + kWhat);
  return fd;
}

// Written by offset: reads move the descriptor's position on Windows.
void ScratchFile::Append(std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const std::int64_t written = fs::WriteAt(fd_.get(), bytes.data() + done, bytes.size() - done,
                                             static_cast<std::uint64_t>(size_) + done);
    if (written <= 0) {
      throw FileFailure(FailureKind::FileWrite, written < 0 ? errno : EIO, "writing " + kWhat);
    }
    done += static_cast<std::size_t>(written);
  }
  size_ += static_cast<std::int64_t>(bytes.size());
}

// Only the size is cut back: the next Append writes over the dropped bytes,
// nothing reads past the size, and the file goes whole when it is closed.
void ScratchFile::Truncate(std::int64_t size) { size_ = std::min(size, size_); }

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
