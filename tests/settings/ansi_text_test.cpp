#include "settings/AnsiText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace qm {
namespace {

#ifndef _WIN32

struct Conversion {
  const char* charset;
  std::string input;
  std::string expected;
};

TEST(AnsiTextTest, Utf8IntoCharset) {
  const Conversion cases[] = {
      {"CP932", "請求書", "\x90\xbf\x8b\x81\x8f\x91"},
      {"CP932", "ｱﾄﾞﾚｽ", "\xb1\xc4\xde\xda\xbd"},
      {"CP932", "表/x", "\x95\x5c/x"},  // second byte is a backslash
      {"CP932", "a€b", "a?b"},          // no euro sign in the code page: one '?'
      {"CP932",
       "a\xff"
       "b",
       "a?b"},  // not UTF-8 at all
      {"ISO-8859-1", "é日", "\xe9?"},
      {"UTF-8", "a\xc3", "a?"},  // cut inside a character
      // one '?' for each byte of what is no character: overlong, surrogate,
      // past U+10FFFF; one for a character the charset lacks
      {"CP932",
       "a\xe0\x80\xaf"
       "b",
       "a???b"},
      {"CP932", "\xed\xa0\x80", "???"},
      {"CP932", "\xf4\x90\x80\x80", "????"},
      {"CP932", "\xf4\x8f\xbf\xbf", "?"},
      {"ANSI_X3.4-1968", "日本", "日本"},  // the plain C locale holds UTF-8
      {"", "日本", "日本"},
      {"NO-SUCH-CHARSET", "a日", "a???"},
  };
  for (const Conversion& c : cases) {
    EXPECT_EQ(Utf8ToCharset(c.input, c.charset), c.expected) << c.charset << " " << c.input;
  }
}

TEST(AnsiTextTest, CharsetIntoUtf8) {
  const Conversion cases[] = {
      {"CP932", "\x90\xbf\x8b\x81\x8f\x91", "請求書"},
      {"CP932", "\xb1\xc4\xde\xda\xbd", "ｱﾄﾞﾚｽ"},
      {"CP932", "\x95\x5c", "表"},
      {"CP932", "ab\x90", "ab?"},  // lead byte without its second byte
      {"ISO-8859-1", "\xe9", "é"},
      {"ANSI_X3.4-1968", "日\xff", "日?"},
      {"ASCII", "x", "x"},
      {"NO-SUCH-CHARSET", "a\xe9", "a?"},
  };
  for (const Conversion& c : cases) {
    EXPECT_EQ(CharsetToUtf8(c.input, c.charset), c.expected) << c.charset << " " << c.input;
  }
}

// A stored text is read in the charset first; bytes that are none of its text
// but are UTF-8 are taken as UTF-8.
TEST(AnsiTextTest, StoredTextIntoUtf8) {
  const Conversion cases[] = {
      {"EUC-JP", "\xbc\xf5\xbf\xae", "受信"},
      {"EUC-JP", "受信", "受信"},  // written as UTF-8
      {"EUC-JP", "a\xff", "a?"},
      {"CP932", "\x90\xbf\x8b\x81\x8f\x91", "請求書"},
      {"CP932", "\xe3\x81\x82", "あ"},   // no CP932 text: UTF-8
      {"CP932", "\xe2\x82\xac", "竄ｬ"},  // "€" in UTF-8, yet CP932 text too
      {"ISO-8859-1", "\xc3\xa9", "Ã©"},  // every byte is Latin-1 text
      {"UTF-8", "a\xc0\x80", "a??"},
      {"ANSI_X3.4-1968", "日\xff", "日?"},
  };
  for (const Conversion& c : cases) {
    EXPECT_EQ(StoredTextToUtf8(c.input, c.charset), c.expected) << c.charset << " " << c.input;
  }
}

TEST(AnsiTextTest, JapaneseSurvivesTheCodePageBothWays) {
  const std::string texts[] = {"請求書/ｱﾄﾞﾚｽ", "C:\\表\\能力\\ソフト", "", "plain"};
  for (const std::string& text : texts) {
    EXPECT_EQ(CharsetToUtf8(Utf8ToCharset(text, "CP932"), "CP932"), text);
  }
}

#endif

// The C locale of a current Linux system names ASCII, yet its files hold UTF-8.
TEST(AnsiTextTest, LocaleCharsetDrivesToAndFromAnsi) {
  const char* locales[] = {"C", "C.UTF-8"};
  for (const char* locale : locales) {
    if (std::setlocale(LC_CTYPE, locale) == nullptr) continue;
    EXPECT_EQ(ToAnsi("請求書/ｱﾄﾞﾚｽ"), "請求書/ｱﾄﾞﾚｽ") << locale;
    EXPECT_EQ(FromAnsi("請求書/ｱﾄﾞﾚｽ"), "請求書/ｱﾄﾞﾚｽ") << locale;
    EXPECT_EQ(FromAnsi("a\xff"), "a?") << locale;
  }
  std::setlocale(LC_CTYPE, "C");
}

}  // namespace
}  // namespace qm
