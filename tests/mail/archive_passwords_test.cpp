// Which mails may tell an encrypted archive's password, and in what order
// their passwords are tried.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "mail/ArchivePasswords.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

const MailTime kArchiveSent = MailTime{} + 24h * 20000;

EncryptedArchive Archive() { return {"見積書.zip", "Tanaka@Example.jp", kArchiveSent}; }

PasswordMail Notice(const std::string& sender, std::optional<MailTime> sent,
                    const std::string& text, const std::string& subject = "ご連絡") {
  return {sender, sent, subject, text};
}

TEST(ArchivePasswords, AMailMayTellThePasswordWhenItsSenderOrTextAndItsTimeFit) {
  struct Case {
    const char* what;
    PasswordMail mail;
    bool may_tell;
  };
  const Case cases[] = {
      {"same sender, a minute later", Notice("tanaka@example.jp", kArchiveSent + 1min, ""), true},
      {"same sender, an hour before", Notice("tanaka@example.jp", kArchiveSent - 1h, ""), true},
      {"same sender, two hours before", Notice("tanaka@example.jp", kArchiveSent - 2h, ""), false},
      {"same sender, seven days later", Notice("tanaka@example.jp", kArchiveSent + 168h, ""), true},
      {"same sender, eight days later", Notice("tanaka@example.jp", kArchiveSent + 192h, ""),
       false},
      {"same sender, no date", Notice("tanaka@example.jp", std::nullopt, ""), true},
      {"a gateway naming the file",
       Notice("gw@relay.example.net", kArchiveSent + 2min, "添付ファイル 見積書.zip のパスワード"),
       true},
      {"a gateway naming it without .zip",
       Notice("gw@relay.example.net", kArchiveSent + 2min, "「見積書」の解凍パスワード"), true},
      {"a subject naming the file",
       Notice("gw@relay.example.net", kArchiveSent, "", "【パスワード通知】見積書.zip"), true},
      {"another sender naming nothing", Notice("sato@example.jp", kArchiveSent + 1min, "abc"),
       false},
      {"a gateway naming the file too late",
       Notice("gw@relay.example.net", kArchiveSent + 200h, "見積書.zip"), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MayTellPassword(Archive(), c.mail), c.may_tell) << c.what;
  }
}

TEST(ArchivePasswords, ShortStemsNameNothing) {
  const EncryptedArchive archive{"a.zip", "x@example.jp", kArchiveSent};
  EXPECT_FALSE(MayTellPassword(archive, Notice("y@example.jp", kArchiveSent, "a cat")));
  EXPECT_TRUE(MayTellPassword(archive, Notice("y@example.jp", kArchiveSent, "a.zip: PW abc1")));
}

TEST(ArchivePasswords, NamingMailsComeFirstThenTheNearestEachPasswordOnceAndBounded) {
  const std::vector<PasswordMail> mails = {
      Notice("tanaka@example.jp", kArchiveSent + 3h, "パスワード：later333"),
      Notice("tanaka@example.jp", kArchiveSent + 1min, "パスワード：near111"),
      Notice("sato@example.jp", kArchiveSent + 1min, "パスワード：other999"),
      Notice("gw@relay.example.net", kArchiveSent + 5h, "見積書.zip\nパスワード：named222"),
      Notice("tanaka@example.jp", kArchiveSent + 2min, "PW: near111"),
  };
  EXPECT_EQ(PasswordsToTry(Archive(), mails),
            (std::vector<std::string>{"named222", "near111", "later333"}));

  std::vector<PasswordMail> many;
  for (int i = 0; i < 40; ++i) {
    many.push_back(Notice("tanaka@example.jp", kArchiveSent + std::chrono::minutes(i),
                          "Password: try" + std::to_string(1000 + i)));
  }
  const std::vector<std::string> tried = PasswordsToTry(Archive(), many);
  ASSERT_EQ(tried.size(), kMaxPasswordTries);
  EXPECT_EQ(tried.front(), "try1000");
}

}  // namespace
}  // namespace qm
