#include "text/SafeName.h"

#include <gtest/gtest.h>

#include <string>

#include "base/Utf8Character.h"

namespace qm {
namespace {

constexpr const char* kFallback = "attachment.bin";

struct NameCase {
  const char* label;
  std::string decoded;
  std::string expected;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class MakeSafeFileNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(MakeSafeFileNameTest, MakesName) {
  EXPECT_EQ(MakeSafeFileName(GetParam().decoded, kFallback), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    HostileNames, MakeSafeFileNameTest,
    ::testing::Values(
        NameCase{"plain", "report.pdf", "report.pdf"},
        NameCase{"japanese", "見積書（第２版）.xlsx", "見積書（第２版）.xlsx"},
        NameCase{"parent_traversal", "../../x", "x"}, NameCase{"absolute", "/etc/x", "x"},
        NameCase{"windows_drive_path", "C:\\x\\y.txt", "y.txt"},
        NameCase{"unc_path", "\\\\host\\share\\x", "x"}, NameCase{"slash_inside", "a/b", "b"},
        NameCase{"backslash_inside", "a\\b", "b"},
        NameCase{"trailing_separator", "dir/", kFallback}, NameCase{"dot", ".", kFallback},
        NameCase{"dot_dot", "..", kFallback}, NameCase{"dots_only", "...", kFallback},
        NameCase{"dot_dot_after_dir", "a/..", kFallback}, NameCase{"empty", "", kFallback},
        NameCase{"spaces_only", "   ", kFallback},
        NameCase{"controls_only", "\x01\x02\x7f", kFallback},
        NameCase{"nul", std::string("a\0b.txt", 7), "ab.txt"},
        NameCase{"escape", "a\x1b[31mb.txt", "a[31mb.txt"},
        NameCase{"bell_tab", "a\x07\tb.txt", "ab.txt"}, NameCase{"cr_lf", "a\r\nb.txt", "ab.txt"},
        NameCase{"c1_control",
                 "a\xc2\x85"
                 "b.txt",
                 "ab.txt"},
        NameCase{"right_to_left_override", "invoice\u202Efdp.exe", "invoicefdp.exe"},
        NameCase{"other_bidi_controls", "\u200Ea\u200F\u202A\u2066b\u2069\u061C.txt", "ab.txt"},
        NameCase{"device_con", "CON", "_CON"},
        NameCase{"device_nul_with_extension", "NUL.txt", "_NUL.txt"},
        NameCase{"device_lower_case", "aux.pdf", "_aux.pdf"},
        NameCase{"device_com", "com1.tar.gz", "_com1.tar.gz"},
        NameCase{"device_lpt", "LPT9", "_LPT9"},
        NameCase{"device_after_trailing_dot", "prn.", "_prn"},
        NameCase{"device_space_before_extension", "CON .txt", "_CON .txt"},
        NameCase{"not_device_com10", "COM10.txt", "COM10.txt"},
        NameCase{"not_device_com0", "COM0", "COM0"},
        NameCase{"not_device_longer", "CONSOLE.txt", "CONSOLE.txt"},
        NameCase{"trailing_dot", "report.pdf.", "report.pdf"},
        NameCase{"trailing_space", "report.pdf ", "report.pdf"},
        NameCase{"trailing_mix", "report.pdf . .", "report.pdf"},
        NameCase{"leading_dash_kept", "-rf", "-rf"},
        NameCase{"leading_dot_kept", ".bashrc", ".bashrc"}, NameCase{"colon", "a:b", "a_b"},
        NameCase{"reserved_characters", "a*b?c\"d<e>f|g.txt", "a_b_c_d_e_f_g.txt"},
        NameCase{"full_width_slash_kept", "a／b.txt", "a／b.txt"},
        NameCase{"percent_encoding_kept", "%2e%2e%2f", "%2e%2e%2f"},
        NameCase{"invalid_utf8_replaced",
                 "a\xff\xfe"
                 "b",
                 "a\uFFFD\uFFFDb"},
        NameCase{"truncated_utf8_replaced", "a\xe3\x81", "a\uFFFD"}));

// Names too long for a file system: every result must be valid UTF-8, at most
// 255 bytes, a prefix of the input's stem, and keep the extension.
struct LongCase {
  const char* label;
  std::string decoded;
  std::string extension;  // expected at the end of the result
};
void PrintTo(const LongCase& c, std::ostream* os) { *os << c.label; }

std::string Repeat(std::string_view unit, size_t times) {
  std::string text;
  for (size_t i = 0; i < times; ++i) text += unit;
  return text;
}

class LongFileNameTest : public ::testing::TestWithParam<LongCase> {};

TEST_P(LongFileNameTest, CutsAtCharacterKeepingExtension) {
  const std::string& decoded = GetParam().decoded;
  const std::string& extension = GetParam().extension;
  const std::string name = MakeSafeFileName(decoded, kFallback);
  EXPECT_TRUE(IsValidUtf8(name));
  EXPECT_LE(name.size(), 255u);
  EXPECT_GE(name.size(), 250u);  // cut only as far as a character needs
  ASSERT_TRUE(name.ends_with(extension)) << name;
  const std::string stem = name.substr(0, name.size() - extension.size());
  EXPECT_TRUE(decoded.starts_with(stem));
}

INSTANTIATE_TEST_SUITE_P(
    LongNames, LongFileNameTest,
    ::testing::Values(LongCase{"ascii_no_extension", Repeat("a", 300), ""},
                      LongCase{"three_byte_characters", Repeat("あ", 98) + ".pdf", ".pdf"},
                      LongCase{"two_byte_characters", Repeat("é", 150) + ".docx", ".docx"},
                      LongCase{"four_byte_characters", Repeat("😀", 75) + ".txt", ".txt"},
                      LongCase{"three_byte_no_extension", Repeat("表", 100), ""},
                      LongCase{"absurd_extension_just_cut", "a." + Repeat("b", 300), ""},
                      LongCase{"exactly_255", Repeat("x", 251) + ".pdf", ".pdf"}));

TEST(MakeSafeFileNameTest, LongDeviceNameStaysWithinLimit) {
  const std::string name = MakeSafeFileName("CON." + Repeat("x", 300), kFallback);
  EXPECT_TRUE(name.starts_with("_CON.")) << name;
  EXPECT_LE(name.size(), 255u);
}

TEST(MakeSafeFileNameTest, CutNeverLeavesTrailingSpace) {
  const std::string name = MakeSafeFileName("a" + Repeat(" ", 300) + "b", kFallback);
  EXPECT_EQ(name, "a");
}

}  // namespace
}  // namespace qm
