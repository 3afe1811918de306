#include "text/EscapedControls.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

struct EscapeCase {
  const char* label;
  std::string text;
  std::string shown;
};
void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.label; }

class EscapeControlsTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeControlsTest, ShowsControlsAsEscapes) {
  EXPECT_EQ(EscapeControls(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeControlsTest,
    ::testing::Values(
        EscapeCase{"PlainAsciiStays", "NO [AUTHENTICATIONFAILED] try again \\ later",
                   "NO [AUTHENTICATIONFAILED] try again \\ later"},
        EscapeCase{"JapaneseAndAstralStay", "認証に失敗しました 𠮷", "認証に失敗しました 𠮷"},
        EscapeCase{"TerminalColourAndTitle", "\x1b[31mred\x1b]0;owned\x07",
                   "\\x1b[31mred\\x1b]0;owned\\x07"},
        EscapeCase{"LineBreaksTabsNulAndDelete", std::string("a\r\nb\tc\0d\x7f", 9),
                   "a\\x0d\\x0ab\\x09c\\x00d\\x7f"},
        EscapeCase{"C1ControlsAsCharacters",
                   "\xc2\x9b"
                   "2J\xc2\x85",
                   "\\u009b2J\\u0085"},
        EscapeCase{"BidiOverridesAndIsolates", "evil\u202Efdp.exe \u2066x\u2069 \u202A",
                   "evil\\u202efdp.exe \\u2066x\\u2069 \\u202a"},
        EscapeCase{"InvalidBytesOneByOne",
                   "a\xff\xfe"
                   "b",
                   "a\\xff\\xfeb"},
        EscapeCase{"CutSequenceAtTheEnd", "見\xe7\xa9", "見\\xe7\\xa9"},
        EscapeCase{"OverlongSlash", "\xc0\xaf", "\\xc0\\xaf"},
        EscapeCase{"EncodedSurrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace qm
