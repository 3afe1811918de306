#include "archive/ZipEntryName.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <zlib.h>

#include <vector>

#include "base/Utf8Character.h"
#include "text/HeaderText.h"
#include "text/SafeName.h"

namespace qm {
namespace {

constexpr std::size_t kUnicodePathHeader = 5;  // version byte, CRC-32

std::uint32_t Crc32Of(std::string_view bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // The name of an entry is at most 65,535 bytes: one call covers it.
  crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
  return static_cast<std::uint32_t>(crc);
}

std::uint32_t LittleEndian32(std::string_view bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

// The UTF-8 name of a Unicode Path field that belongs to `bytes`: version 1,
// its CRC that of the stored name (a field left from before a rename does
// not), its text valid UTF-8.
std::optional<std::string_view> ConsistentUnicodePath(const RawZipName& name) {
  if (!name.unicode_path_field) return std::nullopt;
  const std::string_view field = *name.unicode_path_field;
  if (field.size() < kUnicodePathHeader || field[0] != 1) return std::nullopt;
  if (LittleEndian32(field.substr(1, 4)) != Crc32Of(name.bytes)) return std::nullopt;
  const std::string_view text = field.substr(kUnicodePathHeader);
  if (!IsValidUtf8(text)) return std::nullopt;
  return text;
}

std::string NormalizedNfc(std::string_view utf8) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return std::string(utf8);
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  const icu::UnicodeString normalized = nfc->normalize(text, status);
  if (U_FAILURE(status)) return std::string(utf8);
  std::string out;
  normalized.toUTF8String(out);
  return out;
}

std::vector<std::string_view> SplitAtSeparators(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t at = 0; at <= text.size(); ++at) {
    if (at == text.size() || text[at] == '/' || text[at] == '\\') {
      if (at > start) parts.push_back(text.substr(start, at - start));
      start = at + 1;
    }
  }
  return parts;
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:x" and "C:" name a drive: the rest of the component stays.
std::string_view WithoutDrive(std::string_view first) {
  if (first.size() >= 2 && IsAsciiLetter(first[0]) && first[1] == ':') return first.substr(2);
  return first;
}

// "\\server\x" or "//server/x": the server's name goes with the rest of
// the absolute path's root.
bool IsServerPath(std::string_view text) {
  return text.size() >= 2 && (text[0] == '/' || text[0] == '\\') &&
         (text[1] == '/' || text[1] == '\\');
}

}  // namespace

std::string DecodeZipNameText(const RawZipName& name) {
  if (name.utf8_flag && IsValidUtf8(name.bytes)) return NormalizedNfc(name.bytes);
  if (const auto unicode_path = ConsistentUnicodePath(name)) return NormalizedNfc(*unicode_path);
  if (IsValidUtf8(name.bytes)) return NormalizedNfc(name.bytes);
  return NormalizedNfc(ConvertToUtf8(name.bytes, "windows-31j"));
}

std::string SafeRelativePath(std::string_view text, std::string_view fallback) {
  std::vector<std::string_view> parts = SplitAtSeparators(text);
  if (IsServerPath(text) && !parts.empty()) {
    parts.erase(parts.begin());
  } else if (!parts.empty()) {
    parts.front() = WithoutDrive(parts.front());
  }
  std::string path;
  for (const std::string_view part : parts) {
    const std::string safe = MakeSafeFileName(part, "");
    if (safe.empty()) continue;
    if (!path.empty()) path += '/';
    path += safe;
  }
  return path.empty() ? std::string(fallback) : path;
}

std::string DecodeZipEntryName(const RawZipName& name, std::string_view fallback) {
  return SafeRelativePath(DecodeZipNameText(name), fallback);
}

}  // namespace qm
