#include "mime/UuencodedFiles.h"

#include <gmime/gmime.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "text/Charset.h"
#include "text/HeaderText.h"

namespace qm {
namespace {

constexpr std::string_view kBegin = "begin ";

struct Line {
  std::string_view text;  // without its line break
  std::size_t next;       // where the line after it starts
};

Line LineAt(std::string_view text, std::size_t at) {
  const std::size_t end = text.find('\n', at);
  std::string_view line = text.substr(at, end == std::string_view::npos ? text.npos : end - at);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return {line, end == std::string_view::npos ? text.size() : end + 1};
}

bool IsUuCharacter(char c) { return c >= 0x20 && c <= 0x60; }

// The name on a "begin MODE NAME" line, where MODE is three or four octal
// digits; std::nullopt for any other line.
std::optional<std::string_view> BeginName(std::string_view line) {
  if (!line.starts_with(kBegin)) return std::nullopt;
  line.remove_prefix(kBegin.size());
  const std::size_t digits = line.find_first_not_of("01234567");
  if (digits < 3 || digits > 4 || digits == line.npos || line[digits] != ' ') return std::nullopt;
  return line.substr(digits + 1);
}

// Whether `line` can be a line of uuencoded data: its first character counts
// the bytes it holds, and it has the characters that many bytes need (trailing
// blanks may have been cut off, a check character may follow).
bool IsDataLine(std::string_view line) {
  if (line.empty() || !IsUuCharacter(line[0])) return false;
  for (const char c : line) {
    if (!IsUuCharacter(c)) return false;
  }
  const std::size_t bytes = static_cast<std::size_t>(line[0] - 0x20) & 0x3F;
  const std::size_t characters = line.size() - 1;
  return characters >= (bytes * 4 + 2) / 3 && characters <= (bytes + 2) / 3 * 4 + 1;
}

bool IsLastDataLine(std::string_view line) { return line[0] == ' ' || line[0] == '`'; }

// Decodes `data` onto the end of `scratch`, a block at a time; returns where
// the decoded bytes lie.
Span AppendDecoded(std::string_view data, ScratchFile& scratch) {
  constexpr std::size_t kBlock = 1024 * 1024;
  const std::int64_t begin = scratch.size();
  std::string out(kBlock + 4, '\0');
  int state = GMIME_UUDECODE_STATE_BEGIN;
  guint32 save = 0;
  for (std::size_t at = 0; at < data.size(); at += kBlock) {
    const std::string_view block = data.substr(at, kBlock);
    const std::size_t size = g_mime_encoding_uudecode_step(
        reinterpret_cast<const unsigned char*>(block.data()), block.size(),
        reinterpret_cast<unsigned char*>(out.data()), &state, &save);
    scratch.Append(std::string_view(out).substr(0, size));
  }
  return {begin, scratch.size() - begin};
}

std::string DecodedName(std::string_view name, std::string_view charset) {
  return charset.empty() ? DecodeHeaderBytes(name) : ConvertToUtf8(name, charset);
}

}  // namespace

UuencodedContents UuencodedFiles(std::string_view text, std::string_view charset,
                                 const std::shared_ptr<ScratchFile>& scratch) {
  UuencodedContents contents;
  for (std::size_t at = 0; at < text.size();) {
    const Line begin = LineAt(text, at);
    at = begin.next;
    const std::optional<std::string_view> name = BeginName(begin.text);
    if (!name) continue;
    if (contents.files.size() == kMaxUuencodedFiles) {
      contents.incomplete = true;
      break;
    }
    // The data runs from the line after "begin" to the last line that can be
    // data; the zero-length line ends it.
    const std::size_t data_begin = at;
    std::size_t data_end = at;
    while (at < text.size()) {
      const Line line = LineAt(text, at);
      if (!IsDataLine(line.text)) break;
      at = data_end = line.next;
      if (IsLastDataLine(line.text)) break;
    }
    const Span bytes = AppendDecoded(text.substr(data_begin, data_end - data_begin), *scratch);
    contents.files.push_back({DecodedName(*name, charset), scratch, bytes});
  }
  return contents;
}

}  // namespace qm
