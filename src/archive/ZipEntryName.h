#pragma once
// The name of a ZIP entry as a safe relative path, decoded from the bytes the
// archive holds: archives from Japanese Windows carry CP932 names without any
// mark, macOS writes decomposed UTF-8 without the flag, and the name may try
// to leave the folder it is unpacked into.

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// What the archive says about one name.
struct RawZipName {
  std::string_view bytes;  // the name as stored
  bool utf8_flag = false;  // general-purpose flag bit 11: the name is UTF-8
  // The data of the Info-ZIP Unicode Path extra field (0x7075), if present:
  // version 1, the CRC-32 of `bytes`, the name in UTF-8.
  std::optional<std::string_view> unicode_path_field;
};

// The name as text (UTF-8, NFC): the bytes when flagged and valid UTF-8; else
// the Unicode Path field when its CRC matches the bytes; else the bytes when
// they are valid UTF-8; else the bytes decoded as CP932.
std::string DecodeZipNameText(const RawZipName& name);

// `text` as a relative path of safe components (text/SafeName rules) joined
// with '/': '\' separates too, empty, "." and ".." components go, a leading
// drive ("C:") or server ("\\server") goes; `fallback` when nothing is left.
std::string SafeRelativePath(std::string_view text, std::string_view fallback);

// Both: the path an entry may be unpacked to.
std::string DecodeZipEntryName(const RawZipName& name, std::string_view fallback);

}  // namespace qm
