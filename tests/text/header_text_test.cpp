#include "text/HeaderText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "base/Utf8Character.h"
#include "text/Charset.h"

namespace qm {
namespace {

struct TextCase {
  const char* label;
  std::string input;
  std::string expected;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.label; }

// ---------------------------------------------------------------- charsets

struct CharsetCase {
  const char* label;
  std::string bytes;
  std::string charset;
  std::string expected;
};
void PrintTo(const CharsetCase& c, std::ostream* os) { *os << c.label; }

class ConvertToUtf8Test : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(ConvertToUtf8Test, Converts) {
  EXPECT_EQ(ConvertToUtf8(GetParam().bytes, GetParam().charset), GetParam().expected);
}

const std::string kSjisExtensions = "\x87\x40\x87\x8a\xee\xe0\xfb\xfc\x87\x58\x95\x5c";
const std::string kExtensionsUtf8 = "①㈱髙髙Ⅴ表";

INSTANTIATE_TEST_SUITE_P(
    Charsets, ConvertToUtf8Test,
    ::testing::Values(
        CharsetCase{"shift_jis_extensions", kSjisExtensions, "Shift_JIS", kExtensionsUtf8},
        CharsetCase{"sjis_alias", kSjisExtensions, "x-sjis", kExtensionsUtf8},
        CharsetCase{"cp932", kSjisExtensions, "CP932", kExtensionsUtf8},
        CharsetCase{"windows_31j", kSjisExtensions, "Windows-31J", kExtensionsUtf8},
        CharsetCase{"cp932_wave_dash_is_fullwidth_tilde", "\x81\x60", "cp932", "～"},
        // The JIS labels keep the standard's six characters: 〜‖−¢£¬.
        CharsetCase{"shift_jis_standard_mapping",
                    "\x81\x60\x81\x61\x81\x7c\x81\x91\x81\x92\x81\xca", "Shift_JIS", "〜‖−¢£¬"},
        CharsetCase{"iso_2022_jp_wave_dash", "\x1b$B!A\x1b(B", "ISO-2022-JP", "〜"},
        CharsetCase{"euc_jp_wave_dash", "\xa1\xc1", "EUC-JP", "〜"},
        CharsetCase{"unlabelled_cp932_stays_windows", "\x81\x60\x95\x5c", "", "～表"},
        CharsetCase{"iso_2022_jp_nec_row_13", "\x1b$B-!-j\x1b(B", "ISO-2022-JP", "①㈱"},
        CharsetCase{"iso_2022_jp_redundant_escape", "\x1b(J\x1b$B$3\x1b(B", "csISO2022JP", "こ"},
        CharsetCase{"iso_2022_jp_half_width_kana", "\x1b(I123\x1b(B", "iso-2022-jp", "ｱｲｳ"},
        CharsetCase{"euc_jp", "\xb4\xc1\xbb\xfa", "EUC-JP", "漢字"},
        CharsetCase{"latin1", "caf\xe9", "ISO-8859-1", "café"},
        CharsetCase{"latin15_euro", "\xa4", "iso-8859-15", "€"},
        CharsetCase{"utf8_invalid_byte_replaced",
                    "a\xff"
                    "b",
                    "UTF-8",
                    "a\xEF\xBF\xBD"
                    "b"},
        CharsetCase{"language_suffix", "\xb4\xc1", "euc-jp*ja", "漢"},
        CharsetCase{"unknown_charset_unlabelled", "\xe6\x97\xa5", "x-no-such-set", "日"},
        CharsetCase{"empty_charset_unlabelled", "\x95\x5c", "", "表"},
        CharsetCase{"hostile_charset_name", "abc", std::string("utf-8\0x", 7), "abc"},
        CharsetCase{"ascii_label_over_8bit", "\x95\x5c", "us-ascii", "表"}));

class DecodeUnlabelledTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(DecodeUnlabelledTest, Decodes) {
  EXPECT_EQ(DecodeUnlabelled(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Guesses, DecodeUnlabelledTest,
    ::testing::Values(TextCase{"ascii", "plain", "plain"}, TextCase{"utf8", "日本語", "日本語"},
                      TextCase{"cp932_with_extensions", kSjisExtensions, kExtensionsUtf8},
                      TextCase{"cp932_trail_backslash", "\x83\x5c\x83t\x83g", "ソフト"},
                      TextCase{"euc_jp_when_cp932_fails", "\xb4\xc1\xbb\xfa", "漢字"},
                      TextCase{"latin1_last", "caf\xe9", "café"}));

// ------------------------------------------------------------ unstructured

class DecodeUnstructuredTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(DecodeUnstructuredTest, Decodes) {
  const std::string decoded = DecodeUnstructured(GetParam().input);
  EXPECT_EQ(decoded, GetParam().expected);
  EXPECT_TRUE(IsValidUtf8(decoded));
}

INSTANTIATE_TEST_SUITE_P(
    Subjects, DecodeUnstructuredTest,
    ::testing::Values(
        TextCase{"plain", "Invoice for May", "Invoice for May"},
        TextCase{"iso_2022_jp", "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=", "こんにちは"},
        TextCase{"iso_2022_jp_split_across_words",
                 "=?ISO-2022-JP?B?GyRCJDMkcw==?= =?ISO-2022-JP?B?JEskQSRPGyhC?=", "こんにちは"},
        TextCase{"iso_2022_jp_redundant_escapes",
                 "=?iso-2022-jp?B?GyRCJDM=?= =?iso-2022-jp?B?GyRCJHMbKEI=?=", "こん"},
        TextCase{"iso_2022_jp_whole_words_joined",
                 "=?ISO-2022-JP?B?GyRCJDMbKEI=?= =?ISO-2022-JP?B?GyRCJHMbKEI=?=", "こん"},
        TextCase{"iso_2022_jp_ascii_word_after_kanji",
                 "=?ISO-2022-JP?B?GyRCJDMbKEI=?= =?ISO-2022-JP?B?GyhCYWJjGyhC?=", "こabc"},
        TextCase{"iso_2022_jp_escapes_only", "=?ISO-2022-JP?B?GyRCGyhC?=x", "x"},
        TextCase{"iso_2022_jp_word_of_escape_only",
                 "=?ISO-2022-JP?B?GyRCJDMkcw==?==?ISO-2022-JP?B?GyhC?= ok", "こん ok"},
        TextCase{"iso_2022_jp_half_width_kana", "=?ISO-2022-JP?B?GyhJMTIzGyhC?=", "ｱｲｳ"},
        TextCase{"shift_jis_extensions", "=?Shift_JIS?B?h0CHiu7gh1iVXA==?=", "①㈱髙Ⅴ表"},
        TextCase{"cp932_q", "=?CP932?Q?=87=40=87=8A?=", "①㈱"},
        TextCase{"euc_jp", "=?EUC-JP?B?tMG7+qSrpMo=?=", "漢字かな"},
        TextCase{"utf8_b", "=?UTF-8?B?5pel5pys6Kqe?=", "日本語"},
        TextCase{"utf8_q_with_underscore", "=?utf-8?q?=E3=81=82_=E3=81=84?=", "あ い"},
        TextCase{"utf8_character_split_across_words",
                 "=?UTF-8?B?5pel5g==?= =?UTF-8?B?nKzoqp4=?=", "日本語"},
        TextCase{"padding_then_next_word", "=?UTF-8?B?44GCYQ==?= =?UTF-8?B?44GE?=", "あaい"},
        TextCase{"missing_padding", "=?UTF-8?B?44GCYQ?=", "あa"},
        TextCase{"lower_case_encoding_and_language", "=?utf-8*ja?b?44GE?=", "い"},
        TextCase{"different_charsets_adjacent",
                 "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= =?UTF-8?B?6KGo?=", "山田表"},
        TextCase{"text_between_words_kept", "Re: =?UTF-8?B?44GC?= and =?UTF-8?B?44GE?= !",
                 "Re: あ and い !"},
        TextCase{"word_glued_to_text", "Re:=?UTF-8?B?44GC?=x", "Re:あx"},
        TextCase{"folded_crlf", "=?UTF-8?B?5pel5g==?=\r\n =?UTF-8?B?nKzoqp4=?=", "日本語"},
        TextCase{"folded_lf_text", "Hello\n\tworld", "Hello\tworld"},
        TextCase{"leading_and_trailing_space", "  Hello  ", "Hello"},
        TextCase{"unlabelled_cp932", "\x95\x5c\x8e\xa6 test", "表示 test"},
        TextCase{"unlabelled_utf8", "日本語 test", "日本語 test"},
        TextCase{"raw_iso_2022_jp", "\x1b$B$3$s\x1b(B abc", "こん abc"},
        TextCase{"raw_iso_2022_jp_adjacent_escapes", "\x1b$B$3\x1b(B\x1b$B$s\x1b(B", "こん"},
        TextCase{"unknown_encoding_left", "=?UTF-8?X?abc?=", "=?UTF-8?X?abc?="},
        TextCase{"unterminated_left", "=?UTF-8?B?44GC", "=?UTF-8?B?44GC"},
        TextCase{"space_inside_word_left", "=?UTF-8?B?44 GC?=", "=?UTF-8?B?44 GC?="},
        TextCase{"bad_base64_left", "=?UTF-8?B?44*GC?=", "=?UTF-8?B?44*GC?="},
        TextCase{"empty_charset_left", "=??B?44GC?=", "=??B?44GC?="},
        TextCase{"unknown_charset_guessed", "=?x-unknown?B?44GC?=", "あ"},
        TextCase{"nul_and_breaks_removed_tab_kept", "=?UTF-8?Q?a=00b=0D=0Ac=09d?=", "abc\td"},
        TextCase{"incomplete_q_escape_kept", "=?UTF-8?Q?50=25_=4?=", "50% =4"},
        TextCase{"invalid_utf8_payload", "=?UTF-8?Q?a=FFb?=",
                 "a\xEF\xBF\xBD"
                 "b"},
        TextCase{"empty", "", ""}));

// ----------------------------------------------------------------- senders

struct MailboxCase {
  const char* label;
  std::string raw;
  std::string name;
  std::string address;
};
void PrintTo(const MailboxCase& c, std::ostream* os) { *os << c.label; }

class ParseFirstMailboxTest : public ::testing::TestWithParam<MailboxCase> {};

TEST_P(ParseFirstMailboxTest, Parses) {
  const Mailbox mailbox = ParseFirstMailbox(GetParam().raw);
  EXPECT_EQ(mailbox.name, GetParam().name);
  EXPECT_EQ(mailbox.address, GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(
    Senders, ParseFirstMailboxTest,
    ::testing::Values(
        MailboxCase{"name_and_angle", "Taro Yamada <taro@example.jp>", "Taro Yamada",
                    "taro@example.jp"},
        MailboxCase{"quoted_with_escapes", R"("Quoted \"Name\"" <a@b.example>)", R"(Quoted "Name")",
                    "a@b.example"},
        MailboxCase{"quoted_with_comma", R"("Doe, John" <j@d.example>, x@y.example)", "Doe, John",
                    "j@d.example"},
        MailboxCase{"comment_name", "a@b.example (Comment Name)", "Comment Name", "a@b.example"},
        MailboxCase{"nested_comment", "a@b.example (Outer (inner) end)", "Outer (inner) end",
                    "a@b.example"},
        MailboxCase{"bare_address", "a@b.example", "", "a@b.example"},
        MailboxCase{"angle_only", "<a@b.example>", "", "a@b.example"},
        MailboxCase{"angle_with_spaces_and_route", "< @relay.example:a@b.example >", "",
                    "a@b.example"},
        MailboxCase{"group", "Team: a@b.example, c@d.example;", "", "a@b.example"},
        MailboxCase{"empty_group_then_mailbox", "Undisclosed:;, Ann <x@y.example>", "Ann",
                    "x@y.example"},
        MailboxCase{"first_of_list", "Ann <a@b.example>, Bob <c@d.example>", "Ann", "a@b.example"},
        MailboxCase{"encoded_name", "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <y@example.jp>", "山田",
                    "y@example.jp"},
        MailboxCase{"encoded_words_split_in_name",
                    "=?UTF-8?B?5pel5g==?=\r\n =?UTF-8?B?nKzoqp4=?= <n@example.jp>", "日本語",
                    "n@example.jp"},
        MailboxCase{"encoded_name_in_quotes", "\"=?UTF-8?B?6KGo?=\" <h@example.jp>", "表",
                    "h@example.jp"},
        MailboxCase{"encoded_name_with_specials", "=?UTF-8?Q?A,B:C?= <q@example.jp>", "A,B:C",
                    "q@example.jp"},
        MailboxCase{"cp932_name",
                    "\x8eR\x93"
                    "c <y@example.jp>",
                    "山田", "y@example.jp"},
        MailboxCase{"cp932_backslash_before_quote", "\"\x95\x5c\" <h@example.jp>", "表",
                    "h@example.jp"},
        MailboxCase{"name_without_angles", "Taro taro@example.jp", "Taro", "taro@example.jp"},
        MailboxCase{"null_sender", "<>", "", ""}, MailboxCase{"empty", "", "", ""},
        MailboxCase{"only_colons", std::string(100000, ':'), "", ""},
        MailboxCase{"colons_then_address", std::string(100000, ':') + " a@b.example", "",
                    "a@b.example"},
        MailboxCase{"open_comments", std::string(100000, '(') + " a@b.example", "", ""},
        MailboxCase{"encoded_word_starts",
                    [] {
                      std::string s;
                      for (int i = 0; i < 20000; ++i) s += "=?a?B?";
                      return s;
                    }(),
                    "",
                    [] {
                      std::string s;
                      for (int i = 0; i < 20000; ++i) s += "=?a?B?";
                      return s;
                    }()}));

// The 差出人 field: the display name, or the address where the name is
// missing or decodes to nothing but blanks.
TEST(SenderDisplayName, FallsBackToTheAddressWithoutAName) {
  const struct {
    const char* label;
    std::string raw;
    std::string shown;
  } cases[] = {
      {"name", "Taro Yamada <taro@example.jp>", "Taro Yamada"},
      {"encoded name", "=?UTF-8?B?5bGx55Sw?= <y@example.jp>", "山田"},
      {"comment name", "a@b.example (Comment Name)", "Comment Name"},
      {"bare address", "a@b.example", "a@b.example"},
      {"angle only", "<a@b.example>", "a@b.example"},
      {"empty quotes", "\"\" <q@example.jp>", "q@example.jp"},
      {"blank quotes", "\"  \" <q@example.jp>", "q@example.jp"},
      {"empty encoded word",
       "=?UTF-8?B?"
       "?= <e@example.jp>",
       "e@example.jp"},
      {"encoded blank", "=?UTF-8?Q?_?= <e@example.jp>", "e@example.jp"},
      {"encoded ideographic space", "=?UTF-8?B?44CA?= <w@example.jp>", "w@example.jp"},
      {"empty comment", "a@b.example ()", "a@b.example"},
      {"name keeps inner blanks", "\"Ann  Lee\" <a@b.example>", "Ann  Lee"},
      {"group first member", "Team: a@b.example;", "a@b.example"},
      {"null sender", "<>", ""},
      {"nothing", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SenderDisplayName(ParseFirstMailbox(c.raw)), c.shown) << c.label;
  }
}

// -------------------------------------------------------------- parameters

struct ParameterCase {
  const char* label;
  std::string raw;
  std::string name;
  std::optional<std::string> expected;
};
void PrintTo(const ParameterCase& c, std::ostream* os) { *os << c.label; }

class DecodeParameterTest : public ::testing::TestWithParam<ParameterCase> {};

TEST_P(DecodeParameterTest, Decodes) {
  EXPECT_EQ(DecodeParameter(GetParam().raw, GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, DecodeParameterTest,
    ::testing::Values(
        ParameterCase{"quoted", R"(attachment; filename="a b.pdf")", "filename", "a b.pdf"},
        ParameterCase{"token", "attachment; filename=a.pdf", "filename", "a.pdf"},
        ParameterCase{"name_case_insensitive", "attachment; FileName=a.pdf", "filename", "a.pdf"},
        ParameterCase{"absent", "attachment; size=10", "filename", std::nullopt},
        ParameterCase{"suffix_is_not_the_parameter", "attachment; filename=a.pdf", "name",
                      std::nullopt},
        ParameterCase{"content_type_name", "application/pdf; name=\"a.pdf\"", "name", "a.pdf"},
        ParameterCase{"spaces_around_equals", "attachment; filename = \"a.pdf\" ;x=1", "filename",
                      "a.pdf"},
        ParameterCase{"semicolon_in_quotes", R"(attachment; filename="a;b.txt")", "filename",
                      "a;b.txt"},
        ParameterCase{"escaped_quote", R"(attachment; filename="a\"b.txt")", "filename",
                      "a\"b.txt"},
        ParameterCase{"unescaped_windows_path", R"(attachment; filename="C:\dir\a.txt")",
                      "filename", R"(C:\dir\a.txt)"},
        ParameterCase{"empty_value", R"(attachment; filename="")", "filename", ""},
        ParameterCase{"two_filenames_first_wins",
                      R"(attachment; filename="a.pdf"; filename="b.pdf")", "filename", "a.pdf"},
        ParameterCase{"extended", "attachment; filename*=UTF-8''%E8%A1%A8.pdf", "filename",
                      "表.pdf"},
        ParameterCase{"extended_with_language",
                      "attachment; filename*=iso-2022-jp'ja'%1B%24%42%49%3D%1B%28%42.pdf",
                      "filename", "表.pdf"},
        ParameterCase{"extended_without_charset", "attachment; filename*=''%E8%A1%A8.pdf",
                      "filename", "表.pdf"},
        ParameterCase{"extended_quoted", "attachment; filename*=\"UTF-8''%E8%A1%A8.pdf\"",
                      "filename", "表.pdf"},
        ParameterCase{"extended_preferred_over_plain",
                      "attachment; filename=\"old.pdf\"; filename*=UTF-8''%E8%A1%A8.pdf",
                      "filename", "表.pdf"},
        ParameterCase{"continuations_in_order",
                      "attachment; filename*0*=UTF-8''%E8%A1; filename*1*=%A8; filename*2=.pdf",
                      "filename", "表.pdf"},
        ParameterCase{"continuations_out_of_order",
                      "attachment; filename*2=\".pdf\"; filename*1*=%A8; filename*0*=UTF-8''%E8%A1",
                      "filename", "表.pdf"},
        ParameterCase{"continuations_plain",
                      "attachment; filename*0=\"long name \"; filename*1=\"part.txt\"", "filename",
                      "long name part.txt"},
        ParameterCase{"continuation_first_occurrence_wins",
                      "attachment; filename*0=a; filename*0=b; filename*1=.txt", "filename",
                      "a.txt"},
        ParameterCase{"encoded_word_in_quotes", "attachment; filename=\"=?UTF-8?B?6KGoLnBkZg==?=\"",
                      "filename", "表.pdf"},
        ParameterCase{"encoded_words_split_in_quotes",
                      "attachment; filename=\"=?UTF-8?B?6KGo?= =?UTF-8?B?LnBkZg==?=\"", "filename",
                      "表.pdf"},
        ParameterCase{"encoded_word_token",
                      "attachment; filename==?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=.txt", "filename",
                      "山田.txt"},
        ParameterCase{"encoded_word_across_continuations",
                      "attachment; filename*0=\"=?UTF-8?B?6KGo\"; filename*1=\"LnBkZg==?=\"",
                      "filename", "表.pdf"},
        ParameterCase{"encoded_word_inside_extended",
                      "attachment; filename*=''=?UTF-8?B?6KGoLnBkZg==?=", "filename", "表.pdf"},
        ParameterCase{"shift_jis_backslash_quoted", "attachment; filename=\"\x95\x5c.pdf\"",
                      "filename", "表.pdf"},
        ParameterCase{"shift_jis_backslash_token", "attachment; filename=\x83\x5c\x83t\x83g.txt",
                      "filename", "ソフト.txt"},
        ParameterCase{"folded", "attachment;\r\n filename=\"a.pdf\"", "filename", "a.pdf"},
        ParameterCase{"nul_removed", std::string("attachment; filename=\"a\0b\"", 25), "filename",
                      "ab"},
        ParameterCase{"huge_section_number_ignored", "attachment; filename*99999=x", "filename",
                      std::nullopt},
        ParameterCase{"junk_without_value", "attachment; junk; ; filename=a", "filename", "a"}));

}  // namespace
}  // namespace qm
