#include "mime/MessageText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "mime/PartBounds.h"
#include "mime/TopPart.h"
#include "tests/support/ScratchFiles.h"
#include "text/PasswordCandidates.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

MessageFacts FactsOf(const std::string& message) {
  return ReadMessageFacts(testing::FileHolding(message).get());
}

// 2026-12-09 01:00:00 UTC, which "Wed, 09 Dec 2026 10:00:00 +0900" names.
const Clock::time_point kNoticeTime = Clock::time_point(1796778000s);

const std::string kHeaders =
    "From: \"Sales\" <Sales@Example.CO.JP>\n"
    "Date: Wed, 09 Dec 2026 10:00:00 +0900\n"
    "Subject: =?iso-2022-jp?b?GyRCJVElOSVvITwlSURMQ04bKEI=?=\n"
    "MIME-Version: 1.0\n";
const std::string kSubject = "パスワード通知";
const std::string kNotice = "パスワード：Xy7pQ2rt";

std::string WithCrlf(const std::string& text) {
  std::string result;
  for (char c : text) result += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return result;
}

struct NoticeCase {
  const char* label;
  std::string message;
  std::string text;  // the whole text expected
  std::vector<std::string> names;
  std::string password;  // what PasswordCandidates finds first in the text
};

void PrintTo(const NoticeCase& c, std::ostream* out) { *out << c.label; }

class NoticeShapes : public ::testing::TestWithParam<NoticeCase> {};

TEST_P(NoticeShapes, GivesTheBodyTextAndTheHeaderFacts) {
  const MessageFacts facts = FactsOf(GetParam().message);
  EXPECT_EQ(facts.text, GetParam().text);
  EXPECT_EQ(facts.attachment_names, GetParam().names);
  EXPECT_EQ(facts.sender_address, "sales@example.co.jp");
  EXPECT_EQ(facts.subject, kSubject);
  EXPECT_EQ(facts.date, std::optional(kNoticeTime));
}

TEST_P(NoticeShapes, PasswordCandidatesFindThePasswordInTheText) {
  const std::vector<std::string> found = PasswordCandidates(FactsOf(GetParam().message).text);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.front(), GetParam().password);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, NoticeShapes,
    ::testing::Values(
        NoticeCase{"PlainUtf8",
                   kHeaders +
                       "Content-Type: text/plain; charset=utf-8\n"
                       "Content-Transfer-Encoding: 8bit\n\n"
                       "お世話になっております。\n" +
                       kNotice + "\n\n",
                   "お世話になっております。\n" + kNotice,
                   {},
                   "Xy7pQ2rt"},
        NoticeCase{"Iso2022Jp7bitCrlf",
                   WithCrlf(kHeaders + "Content-Type: text/plain; charset=ISO-2022-JP\n"
                                       "Content-Transfer-Encoding: 7bit\n\n"
                                       "\x1b$B%Q%9%o!<%I!'\x1b(BXy7pQ2rt\n"),
                   kNotice,
                   {},
                   "Xy7pQ2rt"},
        NoticeCase{"Iso2022JpWithoutCharset",
                   kHeaders + "\n\x1b$B%Q%9%o!<%I!'\x1b(BXy7pQ2rt\n",
                   kNotice,
                   {},
                   "Xy7pQ2rt"},
        NoticeCase{"ShiftJisBase64",
                   kHeaders + "Content-Type: text/plain; charset=Shift_JIS\n"
                              "Content-Transfer-Encoding: base64\n\n"
                              "g3CDWIOPgVuDaIFGWHk3cFEycnQNCg==\n",
                   kNotice,
                   {},
                   "Xy7pQ2rt"},
        NoticeCase{"QuotedPrintableUtf8",
                   kHeaders + "Content-Type: text/plain; charset=\"UTF-8\"\n"
                              "Content-Transfer-Encoding: quoted-printable\n\n"
                              "=E3=83=91=E3=82=B9=E3=83=AF=\n"
                              "=E3=83=BC=E3=83=89=EF=BC=9AXy7pQ2rt\n",
                   kNotice,
                   {},
                   "Xy7pQ2rt"},
        NoticeCase{"HtmlOnlyQuotedPrintable",
                   kHeaders +
                       "Content-Type: text/html; charset=utf-8\n"
                       "Content-Transfer-Encoding: quoted-printable\n\n"
                       "<html><body><p>=E3=83=91=E3=82=B9=E3=83=AF=E3=83=BC=E3=83=89<br>ab=\n"
                       "c123</p></body></html>\n",
                   "パスワード\nabc123",
                   {},
                   "abc123"},
        NoticeCase{"AlternativePlainWins",
                   kHeaders +
                       "Content-Type: multipart/alternative; boundary=\"ALT\"\n\n"
                       "--ALT\nContent-Type: text/html; charset=utf-8\n\n"
                       "<p>HTML version</p>\n"
                       "--ALT\nContent-Type: text/plain; charset=utf-8\n\n" +
                       kNotice +
                       "\n"
                       "--ALT--\n",
                   kNotice,
                   {},
                   "Xy7pQ2rt"},
        NoticeCase{"MixedWithZipAttachments",
                   kHeaders +
                       "Content-Type: multipart/mixed; boundary=\"MIX\"\n\n"
                       "--MIX\nContent-Type: text/plain; charset=utf-8\n\n" +
                       kNotice +
                       "\n"
                       "--MIX\nContent-Type: application/zip\n"
                       "Content-Disposition: attachment;\n"
                       " filename*=UTF-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8.zip\n"
                       "Content-Transfer-Encoding: base64\n\n"
                       "WklQREFUQS1ub3QtdGV4dA==\n"
                       "--MIX\nContent-Type: application/zip;\n"
                       " name=\"=?utf-8?b?6KaL56mN5pu4LnppcA==?=\"\n"
                       "Content-Transfer-Encoding: base64\n\n"
                       "WklQREFUQS1ub3QtdGV4dA==\n"
                       "--MIX\nContent-Type: text/plain; charset=utf-8\n"
                       "Content-Disposition: attachment; filename=\"readme.txt\"\n\n"
                       "attached text, not the body\n"
                       "--MIX--\n",
                   kNotice,
                   {"見積書.zip", "見積書.zip", "readme.txt"},
                   "Xy7pQ2rt"},
        NoticeCase{"ForwardedNotice",
                   kHeaders + "Content-Type: multipart/mixed; boundary=\"OUT\"\n\n"
                              "--OUT\nContent-Type: text/plain; charset=utf-8\n\n"
                              "転送します。\n"
                              "--OUT\nContent-Type: message/rfc822\n\n"
                              "From: gateway@example.com\nSubject: notice\n"
                              "Content-Type: multipart/alternative; boundary=\"IN\"\n\n"
                              "--IN\nContent-Type: text/plain; charset=ISO-2022-JP\n\n"
                              "\x1b$B%Q%9%o!<%I!'\x1b(BXy7pQ2rt\n"
                              "--IN\nContent-Type: text/html\n\n<p>html</p>\n"
                              "--IN--\n"
                              "--OUT--\n",
                   "転送します。\n\n" + kNotice,
                   {},
                   "Xy7pQ2rt"},
        NoticeCase{
            "ForwardedBase64Encoded",
            kHeaders +
                "Content-Type: multipart/mixed; boundary=\"OUT\"\n\n"
                "--OUT\nContent-Type: text/plain; charset=utf-8\n\n"
                "転送します。\n"
                "--OUT\nContent-Type: message/rfc822\n"
                "Content-Transfer-Encoding: base64\n\n"
                "RnJvbTogZ2F0ZXdheUBleGFtcGxlLmNvbQpTdWJqZWN0OiBub3RpY2UKQ29udGVudC1UeXBlOiB0\n"
                "ZXh0L3BsYWluOyBjaGFyc2V0PXV0Zi04Cgrjg5Hjgrnjg6/jg7zjg4nvvJpYeTdwUTJydAo=\n"
                "--OUT--\n",
            "転送します。\n\n" + kNotice,
            {},
            "Xy7pQ2rt"},
        NoticeCase{"ForwardedHtmlOnlyBesidePlainBody",
                   kHeaders + "Content-Type: multipart/mixed; boundary=\"OUT\"\n\n"
                              "--OUT\nContent-Type: text/plain; charset=utf-8\n\n"
                              "転送します。\n"
                              "--OUT\nContent-Type: message/rfc822; name=\"notice.eml\"\n\n"
                              "Subject: notice\n"
                              "Content-Type: text/html; charset=utf-8\n\n"
                              "<div>Password: abc123</div>\n"
                              "--OUT--\n",
                   "転送します。\n\nPassword: abc123",
                   {"notice.eml"},
                   "abc123"}),
    [](const auto& info) { return std::string(info.param.label); });

struct DateCase {
  const char* label;
  std::string field;  // the Date line, or nothing
  std::optional<Clock::time_point> date;
};

void PrintTo(const DateCase& c, std::ostream* out) { *out << c.label; }

class DateField : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateField, IsReadAsGMimeReadsIt) {
  const MessageFacts facts = FactsOf(GetParam().field + "Subject: s\n\nbody\n");
  EXPECT_EQ(facts.date, GetParam().date);
  EXPECT_EQ(facts.text, "body");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DateField,
    ::testing::Values(DateCase{"Absent", "", std::nullopt},
                      DateCase{"Garbage", "Date: next tuesday, maybe\n", std::nullopt},
                      DateCase{"Modern", "Date: Wed, 09 Dec 2026 10:00:00 +0900\n", kNoticeTime},
                      // RFC 5322's obsolete form: a two-digit year, no seconds,
                      // a zone name. JST is none of its names: the time is read
                      // as of an unknown zone, that is, as UTC.
                      DateCase{"ObsoleteForm", "Date: Tue, 9 Dec 26 10:00 JST\n", kNoticeTime + 9h},
                      DateCase{"ObsoleteFormNamedZone", "Date: 9 Dec 26 10:00 EST\n",
                               kNoticeTime + 14h}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(MessageFacts, SenderIsTheFirstMailboxLowerCased) {
  const MessageFacts facts = FactsOf(
      "From: =?utf-8?b?5bGx55SwIOWkqumDjg==?= <Taro.YAMADA@Example.COM>, other@example.com\n"
      "\nbody\n");
  EXPECT_EQ(facts.sender_address, "taro.yamada@example.com");
  EXPECT_EQ(facts.subject, "");
}

TEST(MessageFacts, MboxFromLineBeforeTheMessageIsSkipped) {
  const MessageFacts facts =
      FactsOf("From someone@example.com Wed Dec  9 10:00:00 2026\nFrom: A@B.example\n\nbody\n");
  EXPECT_EQ(facts.sender_address, "a@b.example");
  EXPECT_EQ(facts.text, "body");
}

TEST(MessageFacts, TextIsCutAtACharacterBoundaryWithinTheBound) {
  // Three-byte characters: the bound falls inside one of them.
  std::string body;
  while (body.size() < kMaxMessageTextBytes + 100) body += "パスワード";
  const MessageFacts facts = FactsOf("Content-Type: text/plain; charset=utf-8\n\n" + body);
  EXPECT_EQ(facts.text.size(), kMaxMessageTextBytes - kMaxMessageTextBytes % 3);
  EXPECT_EQ(facts.text, body.substr(0, facts.text.size()));
}

TEST(MessageFacts, MessageBeyondThePartBoundsGivesItsHeaderFieldsAlone) {
  std::string message =
      "From: a@example.com\nSubject: many\n"
      "Content-Type: multipart/mixed; boundary=\"B\"\n\n";
  for (std::size_t i = 0; i <= kMaxPartLines; ++i) message += "--B\n\ntext\n";
  const MessageFacts facts = FactsOf(message + "--B--\n");
  EXPECT_EQ(facts.sender_address, "a@example.com");
  EXPECT_EQ(facts.subject, "many");
  EXPECT_EQ(facts.text, "");
}

// A text part inside `levels` nested multiparts.
std::string Nested(int levels) {
  std::string message = "Subject: nested\n";
  for (int i = 0; i < levels; ++i) {
    const std::string boundary = "B" + std::to_string(i);
    message +=
        "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\n--" + boundary + "\n";
  }
  return message + "Content-Type: text/plain\n\ninner\n";
}

TEST(MessageFacts, PartsNestedTooDeepAreNotRead) {
  EXPECT_EQ(FactsOf(Nested(kMaxPartDepth)).text, "inner");
  const MessageFacts facts = FactsOf(Nested(kMaxPartDepth + 1));
  EXPECT_EQ(facts.subject, "nested");
  EXPECT_EQ(facts.text, "");
}

TEST(MessageFacts, MessageTooLargeForMemoryIsReadFromItsFile) {
  std::string message =
      "Subject: large\nContent-Type: multipart/mixed; boundary=\"M\"\n\n"
      "--M\nContent-Type: text/plain; charset=utf-8\n\n" +
      kNotice +
      "\n--M\nContent-Type: application/zip; name=big.zip\n"
      "Content-Transfer-Encoding: base64\n\n";
  const std::string line(76, 'A');
  while (message.size() <= static_cast<std::size_t>(kInMemoryLimit)) message += line + "\n";
  const MessageFacts facts = FactsOf(message + "--M--\n");
  EXPECT_EQ(facts.text, kNotice);
  EXPECT_EQ(facts.attachment_names, std::vector<std::string>{"big.zip"});
}

TEST(MessageFacts, MalformedInputGivesWhatCanBeRead) {
  for (const std::string& message :
       {std::string(), std::string("\0\0\xff\xfe", 4), std::string("Subject: only\n"),
        std::string("Content-Type: multipart/mixed; boundary=\"B\"\n\n--B\nbroken")}) {
    EXPECT_NO_THROW(FactsOf(message));
  }
  EXPECT_EQ(FactsOf("Subject: only").subject, "only");
}

TEST(MessageFacts, UnreadableDescriptorThrows) { EXPECT_THROW(ReadMessageFacts(-1), Failure); }

}  // namespace
}  // namespace qm
