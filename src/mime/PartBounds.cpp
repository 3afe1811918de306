#include "mime/PartBounds.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_set>

#include "mime/LineReader.h"

namespace qm {
namespace {

// What is kept of each line: enough to see whether it names a message type.
constexpr std::size_t kKeptPerLine = 1024;

// Where `word` (lower case) stands in `line`, in any case; npos when not.
// Every line of every message passes here: no copy is made of it.
std::size_t FindIgnoringCase(std::string_view line, std::string_view word) {
  const auto at =
      std::search(line.begin(), line.end(), word.begin(), word.end(),
                  [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
  return at == line.end() ? std::string_view::npos : static_cast<std::size_t>(at - line.begin());
}

bool NamesAMessageType(std::string_view line) {
  return FindIgnoringCase(line, "message/") != std::string_view::npos;
}

// A part whose content is base64 or quoted-printable: an attached message
// sent so does not start with its header block.
bool NamesAnEncoding(std::string_view line) {
  return FindIgnoringCase(line, "content-transfer-encoding") == 0 &&
         (FindIgnoringCase(line, "base64") != std::string_view::npos ||
          FindIgnoringCase(line, "quoted-printable") != std::string_view::npos);
}

// The boundary a line declares ("boundary=abc" or boundary="abc", in any
// case), if it declares one.
std::optional<std::string> DeclaredBoundary(std::string_view line) {
  constexpr std::string_view kParameter = "boundary=";
  const std::size_t at = FindIgnoringCase(line, kParameter);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view value = line.substr(at + kParameter.size());
  if (value.starts_with('"')) {
    value.remove_prefix(1);
    return std::string(value.substr(0, value.find('"')));
  }
  return std::string(value.substr(0, value.find_first_of("; \t")));
}

// True when `line` is a delimiter of one of the `boundaries` declared so far:
// "--", the boundary, maybe "--" and white space after it.
bool IsDelimiter(std::string_view line, const std::unordered_set<std::string>& boundaries) {
  if (!line.starts_with("--")) return false;
  line.remove_prefix(2);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  if (boundaries.contains(std::string(line))) return true;
  return line.ends_with("--") && boundaries.contains(std::string(line.substr(0, line.size() - 2)));
}

std::optional<std::string> Exceeded(LineReader& lines) {
  std::string line;
  std::size_t delimiters = 0;
  std::unordered_set<std::string> boundaries;
  // The message's own header block is bounded where it is parsed
  // (BoundedHeaderBlock.h); it is followed here only for the message type it
  // may name.
  std::int64_t block_start = 0;  // where the header block being read began, if any
  bool own_block = true;
  bool names_message = false;   // the block names a message type: another block follows
  bool names_encoding = false;  // ... unless it names a transfer encoding
  while (lines.Next(line)) {
    const std::string_view text = WithoutCarriageReturn(line);
    if (const std::optional<std::string> declared = DeclaredBoundary(text)) {
      boundaries.insert(*declared);
      if (boundaries.size() > kMaxPartLines) {
        return "more than " + std::to_string(kMaxPartLines) + " MIME boundaries";
      }
    }
    if (IsDelimiter(text, boundaries)) {
      if (++delimiters > kMaxPartLines) {
        return "more than " + std::to_string(kMaxPartLines) + " lines that start a MIME part";
      }
      block_start = lines.offset();
      own_block = names_message = names_encoding = false;
    } else if (block_start >= 0 && text.empty()) {
      block_start = names_message && !names_encoding ? lines.offset() : -1;
      own_block = names_message = names_encoding = false;
    } else if (block_start >= 0) {
      names_message = names_message || NamesAMessageType(text);
      names_encoding = names_encoding || NamesAnEncoding(text);
      if (!own_block && lines.offset() - block_start > kMaxPartHeaderBytes) {
        return "a part's header block larger than " + std::to_string(kMaxPartHeaderBytes / 1024) +
               " KiB";
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> PartBoundExceeded(int fd) {
  LineReader lines(fd, kKeptPerLine);
  return Exceeded(lines);
}

std::optional<std::string> PartBoundExceeded(std::string_view message) {
  LineReader lines(message, kKeptPerLine);
  return Exceeded(lines);
}

}  // namespace qm
