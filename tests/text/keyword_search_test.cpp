// The keyword comparison: case, width and kana do not count, accents do.
#include "text/KeywordSearch.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/EnvOverride.h"

namespace qm {
namespace {

struct Case {
  const char* keyword;
  const char* text;
  bool found;
};

class KeywordSearchInLocale : public ::testing::TestWithParam<const char*> {
 protected:
  testing::EnvOverride locale_{"LC_ALL", GetParam()};
};

TEST_P(KeywordSearchInLocale, FindsAcrossCaseWidthAndKana) {
  const Case cases[] = {
      {"アドレス", "ｱﾄﾞﾚｽ帳", true},
      {"アドレス", "あどれす", true},
      {"ｱﾄﾞﾚｽ", "メールアドレス変更", true},
      {"invoice", "ＩＮＶＯＩＣＥ No.5", true},
      {"invoice", "Invoice for May", true},
      {"INVOICE", "your invoice", true},
      {"abc", "Re: xABCx", true},
      {"請求書", "【請求書】11月分", true},
      {"せいきゅう", "セイキュウ", true},
      {"cafe", "café", false},
      {"café", "cafe", false},
      {"abc", "ab c", false},
      {"rep*", "report", false},
      {"rep*", "see rep* here", true},
      {"請求", "見積", false},
      {"abc", "", false},
      {"", "", true},
      {"", "anything", true},
  };
  for (const Case& c : cases) {
    const KeywordSearch search(c.keyword);
    EXPECT_EQ(search.FoundIn(c.text), c.found) << c.keyword << " in " << c.text;
  }
}

TEST_P(KeywordSearchInLocale, StarIsOnlyTheWholeKeyword) {
  EXPECT_TRUE(KeywordSearch("*").KeywordEquals("*"));
  EXPECT_TRUE(KeywordSearch("＊").KeywordEquals("*"));  // width does not count
  EXPECT_FALSE(KeywordSearch("**").KeywordEquals("*"));
  EXPECT_FALSE(KeywordSearch("rep*").KeywordEquals("*"));
  EXPECT_FALSE(KeywordSearch("").KeywordEquals("*"));
}

TEST_P(KeywordSearchInLocale, OneSearchServesManyTexts) {
  const KeywordSearch search("見積");
  EXPECT_TRUE(search.FoundIn("お見積りの件"));
  EXPECT_FALSE(search.FoundIn("請求書"));
  EXPECT_TRUE(search.FoundIn("見積"));
}

INSTANTIATE_TEST_SUITE_P(Locales, KeywordSearchInLocale,
                         ::testing::Values("C.UTF-8", "ja_JP.UTF-8", "en_US.UTF-8"));

}  // namespace
}  // namespace qm
