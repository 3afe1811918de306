#include "archive/ZipEntryName.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <string>

namespace qm {
namespace {

constexpr const char* kFallback = "file1";

// 見積書.txt in CP932, as Japanese Windows writes it without the UTF-8 flag.
const std::string kCp932Name = "\x8c\xa9\x90\xcf\x8f\x91.txt";

// The data of a Unicode Path field for `stored`, naming `text`; the CRC is
// off by one when `consistent` is false (a field left from before a rename).
std::string UnicodePathField(const std::string& stored, const std::string& text,
                             bool consistent = true) {
  uLong crc =
      crc32(0L, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size()));
  if (!consistent) crc ^= 1;
  std::string field(1, '\x01');
  for (int i = 0; i < 4; ++i) field += static_cast<char>((crc >> (8 * i)) & 0xff);
  return field + text;
}

struct NameCase {
  const char* label;
  std::string bytes;
  bool utf8_flag;
  std::optional<std::string> unicode_path;
  std::string expected;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class DecodeZipEntryNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(DecodeZipEntryNameTest, DecodesToSafePath) {
  const NameCase& c = GetParam();
  RawZipName raw{c.bytes, c.utf8_flag, std::nullopt};
  if (c.unicode_path) raw.unicode_path_field = *c.unicode_path;
  EXPECT_EQ(DecodeZipEntryName(raw, kFallback), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DecodeZipEntryNameTest,
    ::testing::Values(
        NameCase{"ascii", "report.pdf", false, std::nullopt, "report.pdf"},
        NameCase{"cp932_without_flag", kCp932Name, false, std::nullopt, "見積書.txt"},
        NameCase{"cp932_folder", "\x8e\x91\x97\xbf/" + kCp932Name, false, std::nullopt,
                 "資料/見積書.txt"},
        // 0x5C, '\\' in ASCII, is the second byte of 表 and ソ in CP932.
        NameCase{"cp932_backslash_byte", "\x95\x5c\x8e\xa6/\x83\x5c", false, std::nullopt,
                 "表示/ソ"},
        NameCase{"utf8_with_flag", "請求書.pdf", true, std::nullopt, "請求書.pdf"},
        // The flag on bytes that are no UTF-8 is wrong: they are CP932.
        NameCase{"flag_on_cp932", kCp932Name, true, std::nullopt, "見積書.txt"},
        // macOS: decomposed (NFD) UTF-8 without the flag; ガ is カ + U+3099.
        NameCase{"macos_nfd", "\xe3\x82\xab\xe3\x82\x99.txt", false, std::nullopt, "ガ.txt"},
        NameCase{"macos_nfd_latin", "Cafe\xcc\x81.txt", false, std::nullopt, "Café.txt"},
        NameCase{"unicode_path_consistent", kCp932Name, false,
                 UnicodePathField(kCp932Name, "正しい.txt"), "正しい.txt"},
        NameCase{"unicode_path_crc_mismatch", kCp932Name, false,
                 UnicodePathField(kCp932Name, "古い.txt", false), "見積書.txt"},
        NameCase{"unicode_path_not_utf8", "a.txt", false, UnicodePathField("a.txt", "\xff"),
                 "a.txt"},
        NameCase{"unicode_path_too_short", "a.txt", false, std::string("\x01\x02", 2), "a.txt"},
        NameCase{"flag_wins_over_field", "flagged.txt", true,
                 UnicodePathField("flagged.txt", "field.txt"), "flagged.txt"},
        NameCase{"nested_folders", "a/b/c/d.txt", false, std::nullopt, "a/b/c/d.txt"},
        NameCase{"folder_entry", "docs/", false, std::nullopt, "docs"},
        NameCase{"parent_traversal", "../../x", false, std::nullopt, "x"},
        NameCase{"parent_inside", "a/../../b/./c", false, std::nullopt, "a/b/c"},
        NameCase{"absolute", "/etc/x", false, std::nullopt, "etc/x"},
        NameCase{"windows_drive", "C:\\Windows\\x", false, std::nullopt, "Windows/x"},
        NameCase{"drive_relative", "C:x", false, std::nullopt, "x"},
        NameCase{"unc_server", "\\\\server\\share\\x", false, std::nullopt, "share/x"},
        NameCase{"backslashes", "a\\b\\c.txt", false, std::nullopt, "a/b/c.txt"},
        NameCase{"device_name", "CON", false, std::nullopt, "_CON"},
        NameCase{"device_in_folder", "dir/aux.txt", false, std::nullopt, "dir/_aux.txt"},
        NameCase{"reserved_characters", "x/a:b*?.txt", false, std::nullopt, "x/a_b__.txt"},
        NameCase{"trailing_dots", "dir./x. ", false, std::nullopt, "dir/x"},
        NameCase{"only_dots", "../..", false, std::nullopt, kFallback},
        NameCase{"only_separators", "//\\", false, std::nullopt, kFallback},
        NameCase{"empty", "", false, std::nullopt, kFallback},
        NameCase{"controls_dropped", "a\x01\x1b/b\r\n.txt", false, std::nullopt, "a/b.txt"}));

}  // namespace
}  // namespace qm
