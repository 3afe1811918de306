#include "settings/RegFileEncoding.h"

#include <algorithm>
#include <cstdint>

#include "base/Utf8Character.h"

namespace qm {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr char32_t kReplacement = 0xFFFD;

bool IsTextCharacter(char32_t c) { return c >= 0x20 || c == '\t' || c == '\r' || c == '\n'; }

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendUnit(char32_t unit, std::string* out) {
  out->push_back(static_cast<char>(unit & 0xFF));
  out->push_back(static_cast<char>(unit >> 8));
}

void AppendUtf16Le(char32_t c, std::string* out) {
  if (c < 0x10000) {
    AppendUnit(c, out);
    return;
  }
  c -= 0x10000;
  AppendUnit(0xD800 + (c >> 10), out);
  AppendUnit(0xDC00 + (c & 0x3FF), out);
}

char32_t UnitAt(std::string_view bytes, std::size_t position) {
  return static_cast<std::uint8_t>(bytes[position]) |
         (char32_t{static_cast<std::uint8_t>(bytes[position + 1])} << 8);
}

// The character at `*position`, which moves past it; nothing for a code unit
// that is no character (a surrogate without its partner, a lone last byte).
std::optional<char32_t> NextUtf16(std::string_view bytes, std::size_t* position) {
  if (*position + 2 > bytes.size()) {
    *position = bytes.size();
    return std::nullopt;
  }
  const char32_t unit = UnitAt(bytes, *position);
  *position += 2;
  if (!IsSurrogate(unit)) return unit;
  if (unit >= 0xDC00 || *position + 2 > bytes.size()) return std::nullopt;
  const char32_t low = UnitAt(bytes, *position);
  if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
  *position += 2;
  return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
}

// The character at `*position`, which moves past it; nothing, past one byte
// only, for bytes that are no well-formed character.
std::optional<char32_t> NextUtf8(std::string_view text, std::size_t* position) {
  const std::size_t length = Utf8CharacterLength(text.substr(*position));
  const auto lead = static_cast<std::uint8_t>(text[*position]);
  if (length <= 1) {
    ++*position;
    return length == 1 ? std::optional<char32_t>(lead) : std::nullopt;
  }
  char32_t c = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    c = (c << 6) | (static_cast<std::uint8_t>(text[*position + i]) & 0x3F);
  }
  *position += length;
  return c;
}

// Strict: nothing unless every code unit belongs to a character.
std::optional<std::string> DecodeUtf16Text(std::string_view bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t position = 0; position < bytes.size();) {
    const std::optional<char32_t> c = NextUtf16(bytes, &position);
    if (!c || !IsTextCharacter(*c)) return std::nullopt;
    AppendUtf8(*c, &text);
  }
  return text;
}

// Well-formed UTF-8 (no overlong form, no surrogate) of text characters only.
bool IsUtf8FileText(std::string_view text) {
  for (std::size_t position = 0; position < text.size();) {
    const std::optional<char32_t> c = NextUtf8(text, &position);
    if (!c || !IsTextCharacter(*c)) return false;
  }
  return true;
}

bool IsByteText(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char byte) { return IsTextCharacter(static_cast<std::uint8_t>(byte)); });
}

}  // namespace

std::optional<RegFileText> DecodeRegFile(std::string_view bytes) {
  if (bytes.starts_with(kUtf16LeMark)) {
    std::optional<std::string> text = DecodeUtf16Text(bytes.substr(kUtf16LeMark.size()));
    if (!text) return std::nullopt;
    return RegFileText{RegFileEncoding::Utf16Le, std::move(*text)};
  }
  if (bytes.starts_with(kUtf8Mark)) {
    bytes.remove_prefix(kUtf8Mark.size());
    if (!IsUtf8FileText(bytes)) return std::nullopt;
    return RegFileText{RegFileEncoding::Utf8, std::string(bytes)};
  }
  if (!IsByteText(bytes)) return std::nullopt;
  return RegFileText{RegFileEncoding::Ansi, std::string(bytes)};
}

std::string EncodeRegFile(const RegFileText& text) {
  switch (text.encoding) {
    case RegFileEncoding::Utf16Le:
      return std::string(kUtf16LeMark) + Utf8ToUtf16Le(text.text);
    case RegFileEncoding::Utf8:
      return std::string(kUtf8Mark) + text.text;
    case RegFileEncoding::Ansi:
      break;
  }
  return text.text;
}

std::string Utf16LeToUtf8(std::string_view utf16) {
  std::string utf8;
  for (std::size_t position = 0; position < utf16.size();) {
    AppendUtf8(NextUtf16(utf16, &position).value_or(kReplacement), &utf8);
  }
  return utf8;
}

std::string Utf8ToUtf16Le(std::string_view utf8) {
  std::string utf16;
  utf16.reserve(utf8.size() * 2);
  for (std::size_t position = 0; position < utf8.size();) {
    AppendUtf16Le(NextUtf8(utf8, &position).value_or(kReplacement), &utf16);
  }
  return utf16;
}

}  // namespace qm
