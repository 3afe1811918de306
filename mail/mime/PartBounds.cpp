#include "mail/mime/PartBounds.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "mail/mime/LineReader.h"

namespace qm {
namespace {

// What is kept of each line: enough to see whether it names a message type.
constexpr std::size_t kKeptPerLine = 1024;

bool NamesAMessageType(std::string_view line) {
  std::string lower(line);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("message/") != std::string::npos;
}

}  // namespace

std::optional<std::string> PartBoundExceeded(int fd) {
  LineReader lines(fd, kKeptPerLine);
  std::string line;
  std::size_t delimiters = 0;
  // The message's own header block is bounded where it is parsed
  // (BoundedHeaderBlock.h); it is followed here only for the message type it
  // may name.
  std::int64_t block_start = 0;  // where the header block being read began, if any
  bool own_block = true;
  bool names_message = false;  // the block names a message type: another block follows
  while (lines.Next(line)) {
    const std::string_view text = WithoutCarriageReturn(line);
    if (text.starts_with("--")) {
      if (++delimiters > kMaxPartLines) {
        return "more than " + std::to_string(kMaxPartLines) + " lines that may start a MIME part";
      }
      block_start = lines.offset();
      own_block = names_message = false;
    } else if (block_start >= 0 && text.empty()) {
      block_start = names_message ? lines.offset() : -1;
      own_block = names_message = false;
    } else if (block_start >= 0) {
      names_message = names_message || NamesAMessageType(text);
      if (!own_block && lines.offset() - block_start > kMaxPartHeaderBytes) {
        return "a part's header block larger than " + std::to_string(kMaxPartHeaderBytes / 1024) +
               " KiB";
      }
    }
  }
  return std::nullopt;
}

}  // namespace qm
