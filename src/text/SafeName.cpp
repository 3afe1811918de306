#include "text/SafeName.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <array>

#include "text/Charset.h"
#include "text/CutAtCharacter.h"

namespace qm {
namespace {

constexpr size_t kMaxNameBytes = 255;
// An extension longer than this is not worth keeping whole when cutting.
constexpr size_t kMaxKeptExtensionBytes = 32;

bool IsDropped(UChar32 c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool IsReserved(UChar32 c) {
  return c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
}

std::string_view LastComponent(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// Drops invisible and control characters and replaces the characters that
// Windows forbids in names. `text` must be valid UTF-8.
std::string CleanCharacters(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  std::string clean;
  int32_t i = 0;
  while (i < length) {
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (IsDropped(c)) continue;
    if (IsReserved(c)) {
      clean += '_';
    } else {
      clean.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
    }
  }
  return clean;
}

void TrimTrailingDotsAndSpaces(std::string& name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
}

bool IsDeviceName(std::string_view name) {
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c);
  static constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
  if (std::find(kDevices.begin(), kDevices.end(), base) != kDevices.end()) return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

// `name` cut to `limit` bytes, keeping a reasonable extension whole.
std::string FitLength(std::string_view name, size_t limit) {
  if (name.size() <= limit) return std::string(name);
  const size_t dot = name.rfind('.');
  const bool keep_extension =
      dot != std::string_view::npos && dot > 0 && name.size() - dot <= kMaxKeptExtensionBytes;
  if (!keep_extension) return std::string(CutAtCharacter(name, limit));
  const std::string_view extension = name.substr(dot);
  return std::string(CutAtCharacter(name.substr(0, dot), limit - extension.size())) +
         std::string(extension);
}

}  // namespace

std::string MakeSafeFileName(std::string_view decoded, std::string_view fallback) {
  const std::string valid = ReplaceInvalidUtf8(decoded);
  std::string name = CleanCharacters(LastComponent(valid));
  TrimTrailingDotsAndSpaces(name);
  const std::string prefix = IsDeviceName(name) ? "_" : "";
  name = FitLength(name, kMaxNameBytes - prefix.size());
  TrimTrailingDotsAndSpaces(name);
  if (name.empty()) return std::string(fallback);
  if (prefix.empty() && IsDeviceName(name)) return "_" + FitLength(name, kMaxNameBytes - 1);
  return prefix + name;
}

}  // namespace qm
