#pragma once
// A file on disk, gone once closed (fs::CreateScratchFile), that the files
// found inside an attachment (a winmail.dat) or a text body (uuencoded) are
// decoded into, so that none of them is held in memory however large. Bytes
// are appended and read back by offset; the writers that copy a file out
// share it, and it goes with the last of them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/UniqueFd.h"

namespace qm {

// Opens a new unnamed file, readable and writable; throws Failure(FileWrite)
// when it cannot.
using OpenScratchFile = std::function<UniqueFd()>;

// A new scratch file in the folder held open as `folder`, gone once closed;
// throws Failure(FileWrite) when it cannot be made.
UniqueFd CreateScratchFileIn(int folder);

// The block a copy out of a scratch file goes through.
inline constexpr std::size_t kScratchCopyBlock = 64 * 1024;

// A run of bytes of a scratch file.
struct Span {
  std::int64_t begin = 0;
  std::int64_t size = 0;
  std::int64_t end() const { return begin + size; }
};

class ScratchFile {
 public:
  explicit ScratchFile(UniqueFd fd) : fd_(std::move(fd)) {}

  std::int64_t size() const { return size_; }

  // Appends `bytes`; throws Failure(FileWrite) when the disk refuses them.
  void Append(std::string_view bytes);
  // Cuts the file back to `size` bytes, dropping what was appended after.
  void Truncate(std::int64_t size);

  // `span` into memory; the caller bounds its size.
  std::string Read(Span span) const;
  // Copies `span` to `to`, a block at a time; `what` names `to` in failures.
  void CopyTo(Span span, int to, const std::string& what) const;

 private:
  UniqueFd fd_;
  std::int64_t size_ = 0;
};

}  // namespace qm
