#include "mime/BoundedHeaderBlock.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/WriteAll.h"
#include "mime/LineReader.h"
#include "store/UnreadableMessage.h"

namespace qm {
namespace {

constexpr std::size_t kBlock = 64 * 1024;
const std::string kWhat = "a copy of a message with a large header block";

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

bool DescribesContent(std::string_view line) {
  return StartsWithIgnoringCase(line, "content-") || StartsWithIgnoringCase(line, "mime-version:");
}

// Whether the header block ends (with an empty line, or with the file)
// within the bound.
bool HeaderBlockWithinBound(int fd) {
  LineReader lines(fd, kMaxParsedHeaderBytes);
  std::string line;
  while (lines.offset() <= kMaxParsedHeaderBytes && lines.Next(line)) {
    if (WithoutCarriageReturn(line).empty()) return true;
  }
  return lines.offset() <= kMaxParsedHeaderBytes;
}

// Copies the bytes of `from` from `offset` to its end onto `to`.
void CopyRest(int from, std::int64_t offset, int to) {
  std::array<char, kBlock> block;
  for (;;) {
    const std::int64_t got =
        fs::ReadAt(from, block.data(), block.size(), static_cast<std::uint64_t>(offset));
    if (got < 0) throw UnreadableMessage("", std::strerror(errno));
    if (got == 0) return;
    WriteAll(to, block.data(), static_cast<std::size_t>(got), kWhat);
    offset += got;
  }
}

}  // namespace

UniqueFd WithBoundedHeaderBlock(UniqueFd message, const OpenScratchFile& open_scratch) {
  if (HeaderBlockWithinBound(message.get())) return message;
  UniqueFd copy = open_scratch();
  LineReader lines(message.get(), kMaxParsedHeaderBytes);
  std::string line;
  std::size_t kept = 0;
  bool in_kept_field = false;
  std::int64_t body = -1;  // where the empty line that ends the block starts
  for (std::int64_t start = 0; lines.Next(line); start = lines.offset()) {
    const std::string_view text = WithoutCarriageReturn(line);
    if (text.empty()) {
      body = start;
      break;
    }
    if (text[0] == ' ' || text[0] == '\t') {
      in_kept_field = in_kept_field && kept + line.size() + 1 <= kMaxParsedHeaderBytes;
    } else {
      in_kept_field = DescribesContent(text) && kept + line.size() + 1 <= kMaxParsedHeaderBytes;
    }
    if (in_kept_field) {
      line += '\n';
      WriteAll(copy.get(), line.data(), line.size(), kWhat);
      kept += line.size();
    }
  }
  if (body >= 0) CopyRest(message.get(), body, copy.get());
  if (::lseek(copy.get(), 0, SEEK_SET) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "rewinding " + kWhat);
  }
  return copy;
}

}  // namespace qm
