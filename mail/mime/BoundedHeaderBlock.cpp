#include "mail/mime/BoundedHeaderBlock.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "frame/settings/Failure.h"
#include "frame/settings/WriteAll.h"
#include "mail/store/UnreadableMessage.h"

namespace qm {
namespace {

constexpr std::size_t kBlock = 64 * 1024;
const std::string kWhat = "a copy of a message with a large header block";

// Reads a descriptor from its start a line at a time, keeping at most
// kMaxParsedHeaderBytes of each line, so that a line of any length costs no
// more.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // The next line, its line feed left off, into `line`; false at the end.
  bool Next(std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
      if (at_ == size_ && !Fill()) return any;
      any = true;
      const std::string_view rest(buffer_.data() + at_, size_ - at_);
      const std::size_t feed = rest.find('\n');
      const std::string_view piece = rest.substr(0, feed);
      line.append(piece.substr(0, static_cast<std::size_t>(kMaxParsedHeaderBytes) -
                                      std::min(line.size(), std::size_t(kMaxParsedHeaderBytes))));
      offset_ += static_cast<std::int64_t>(piece.size());
      at_ += piece.size();
      if (feed != std::string_view::npos) {
        ++at_;
        ++offset_;
        return true;
      }
    }
  }

  // Where the next line starts in the file.
  std::int64_t offset() const { return offset_; }

 private:
  bool Fill() {
    for (;;) {
      const ssize_t got = ::pread(fd_, buffer_.data(), buffer_.size(), offset_);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw UnreadableMessage("", std::strerror(errno));
      at_ = 0;
      size_ = static_cast<std::size_t>(got);
      return got > 0;
    }
  }

  int fd_;
  std::array<char, kBlock> buffer_;
  std::size_t at_ = 0;
  std::size_t size_ = 0;
  std::int64_t offset_ = 0;
};

std::string_view WithoutCarriageReturn(std::string_view line) {
  return line.ends_with('\r') ? line.substr(0, line.size() - 1) : line;
}

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
  LineReader lines(fd);
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
    const ssize_t got = ::pread(from, block.data(), block.size(), offset);
    if (got < 0 && errno == EINTR) continue;
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
  LineReader lines(message.get());
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
