#include "text/EscapedControls.h"

#include <unicode/utf8.h>

#include <cstdint>
#include <cstdio>

namespace qm {
namespace {

bool IsC0OrDelete(UChar32 c) { return c < 0x20 || c == 0x7F; }

bool IsC1OrBidiControl(UChar32 c) {
  return (c >= 0x80 && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char escape[16];  // room for any unsigned, not only the code points passed
  std::snprintf(escape, sizeof escape, format, value);
  out += escape;
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int64_t>(text.size());
  std::string shown;
  shown.reserve(text.size());
  for (std::int64_t i = 0; i < length;) {
    const std::int64_t start = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {
      for (std::int64_t at = start; at < i; ++at) AppendEscape(shown, "\\x%02x", bytes[at]);
    } else if (IsC0OrDelete(c)) {
      AppendEscape(shown, "\\x%02x", static_cast<unsigned>(c));
    } else if (IsC1OrBidiControl(c)) {
      AppendEscape(shown, "\\u%04x", static_cast<unsigned>(c));
    } else {
      shown.append(
          text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    }
  }
  return shown;
}

}  // namespace qm
