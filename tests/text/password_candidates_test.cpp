// The passwords found after labels in a mail's text, and the lines that give none.
#include "text/PasswordCandidates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/HtmlText.h"

namespace qm {
namespace {

using Candidates = std::vector<std::string>;

struct CandidateCase {
  const char* label;
  std::string text;
  Candidates expected;
};
void PrintTo(const CandidateCase& c, std::ostream* os) { *os << c.label; }

class PasswordCandidatesTest : public ::testing::TestWithParam<CandidateCase> {};

TEST_P(PasswordCandidatesTest, FindsTheValuesAfterLabels) {
  EXPECT_EQ(PasswordCandidates(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Found, PasswordCandidatesTest,
    ::testing::Values(
        CandidateCase{"SameLine", "パスワード：Abc12345", {"Abc12345"}},
        CandidateCase{"HalfWidthColonAndBlanks", "解凍パスワード : Abc12345", {"Abc12345"}},
        CandidateCase{"NextLine", "パスワードは以下の通りです。\n\nXy7#pQ2z", {"Xy7#pQ2z"}},
        CandidateCase{"LabelAloneThenValue", "【パスワード】\r\n\r\nabc123\r\n", {"abc123"}},
        CandidateCase{"BracketedLabel", "【パスワード】abc123", {"abc123"}},
        CandidateCase{"BracketedValue", "パスワード：「abc123」", {"abc123"}},
        CandidateCase{"ParticleAndBracketedValue", "パスワードは『abc123』です。", {"abc123"}},
        CandidateCase{"FullWidthValueFolded", "パスワード：ＡＢＣ１２３４", {"ABC1234"}},
        CandidateCase{"FullWidthStopEndsSentence", "パスワード：ａｂ．ｃｄ１２３．", {"ab.cd123"}},
        CandidateCase{"SentenceEnd", "パスワード：abc123。ご確認ください。", {"abc123"}},
        CandidateCase{"RemarkAfterValue", "パスワード：abc123（半角英数字）", {"abc123"}},
        CandidateCase{"BlankSeparatedAtLineEnd", "解凍用パスワード　Abc12345", {"Abc12345"}},
        CandidateCase{"HalfWidthKatakanaLabel", "ﾊﾟｽﾜｰﾄﾞ：abc123", {"abc123"}},
        CandidateCase{"English", "Password: abc123", {"abc123"}},
        CandidateCase{
            "EnglishAnnouncesNextLine", "The password is below:\n  s3cr3t!!", {"s3cr3t!!"}},
        CandidateCase{"PW", "PW: Qw3rty!9", {"Qw3rty!9"}},
        CandidateCase{
            "PasswdAndLowerCasePass", "Passwd: Zz0-Yy1\npass:  k9k9k9k9", {"Zz0-Yy1", "k9k9k9k9"}},
        CandidateCase{"AsciiBracketedValue", "Password: [abc123]", {"abc123"}},
        CandidateCase{"TortoiseShellLabel", "〔暗号化パスワード〕 p@ss(1)2", {"p@ss(1)2"}},
        CandidateCase{"BracketedPW", "[PW] abc123", {"abc123"}},
        CandidateCase{"FullWidthLatinLabel", "ＰＡＳＳ＝abc123", {"abc123"}},
        CandidateCase{"ShortKatakanaLabel", "ID：tanaka パス：pa55word", {"pa55word"}},
        CandidateCase{"RemarkBeforeColon", "パスワード（半角英数字）：abc123", {"abc123"}},
        CandidateCase{"EnglishRemarkBeforeColon", "Password (case-sensitive): Abc123", {"Abc123"}},
        CandidateCase{"IdBeforePassword", "ID: user01  PW: s3cret99", {"s3cret99"}},
        CandidateCase{"GatewayNotice",
                      "[パスワード通知] 添付ファイル 見積書.zip のパスワードをお知らせします。\n"
                      "パスワード: 8uT#kQ2w\n",
                      {"8uT#kQ2w"}},
        CandidateCase{"TwoPasswordsInOrder",
                      "見積書.zip パスワード：zz9Kp2mq\n請求書.zip パスワード：Aa1Bb2Cc",
                      {"zz9Kp2mq", "Aa1Bb2Cc"}},
        CandidateCase{"SamePasswordOnce", "PW: abc12345\nパスワード：abc12345", {"abc12345"}},
        CandidateCase{"QuotedNotice", "> > パスワード: abc12345", {"abc12345"}},
        CandidateCase{"QuotedNextLine", "> パスワード：\n>\n> abc12345", {"abc12345"}},
        CandidateCase{"InvalidUtf8EndsValue", "パスワード：abc123\xff\xfe", {"abc123"}},
        CandidateCase{"LongestValue", "PW: " + std::string(64, 'a'), {std::string(64, 'a')}}));

INSTANTIATE_TEST_SUITE_P(
    NotFound, PasswordCandidatesTest,
    ::testing::Values(
        CandidateCase{"NoValue", "パスワードは別途お送りします", {}},
        CandidateCase{"DeferredThenSignature", "パスワードは別途お送りします。\n\nSincerely,", {}},
        CandidateCase{
            "UrlAfterLabel", "パスワードを忘れた方はこちら https://example.com/reset", {}},
        CandidateCase{"UrlAsValue", "パスワード: https://example.com/reset", {}},
        CandidateCase{"UrlOnNextLine", "パスワードは以下から\nhttp://example.com/p", {}},
        CandidateCase{"Masked", "Password: ********", {}}, CandidateCase{"TooShort", "PW: abc", {}},
        CandidateCase{"TooLong", "PW: " + std::string(65, 'a'), {}},
        CandidateCase{"KatakanaWordWithPass", "パスポート：AB1234567\nコンパス: abcd1234", {}},
        CandidateCase{"LatinWordWithPass", "Passport: AB1234567\nbypass: abcd1234", {}},
        CandidateCase{"LabelInUrl", "https://example.com/login?pw=abcd1234&pass=efgh5678", {}},
        CandidateCase{
            "LongRemarkIsNoLabel", "パスワード(" + std::string(70, 'x') + "): abc123", {}},
        CandidateCase{"PassAsVerb", "Please pass the file to accounting", {}},
        CandidateCase{"EnglishLabelWithoutColon", "Password reset required", {}},
        CandidateCase{"NotAnnounced", "パスワード変更のお願い\nTanaka", {}},
        CandidateCase{"JapaneseNextLine", "パスワード：\n\nよろしくお願いします", {}},
        CandidateCase{"BareValueInSentence", "パスワード Windowsと同じです", {}},
        CandidateCase{
            "QuotedAnnounceUnquotedReply", "> パスワードは以下の通りです。\nThanks!!", {}},
        CandidateCase{"NoLabel", "abc12345\n見積書を送ります", {}}));

TEST(PasswordCandidates, KeepsTheFirstSixteen) {
  std::string text;
  Candidates first;
  for (int i = 0; i < 20; ++i) {
    const std::string value = "pass" + std::to_string(1000 + i);
    text += "PW: " + value + "\n";
    if (first.size() < kMaxPasswordCandidates) first.push_back(value);
  }
  EXPECT_EQ(PasswordCandidates(text), first);
}

TEST(PasswordCandidates, ReadsAnHtmlOnlyBody) {
  EXPECT_EQ(PasswordCandidates(HtmlToText("<p>パスワード<br>abc123</p>")), Candidates{"abc123"});
  EXPECT_EQ(PasswordCandidates(HtmlToText("<table><tr><td>PW:</td><td>&quot;Zx9&amp;y7&quot;</td>"
                                          "</tr></table>")),
            Candidates{"Zx9&y7"});
}

}  // namespace
}  // namespace qm
