// Password ZIPs through the whole scan: an archive mail and the mails that
// may give its password, in an in-memory mailbox; what lands in the folder,
// what is remembered for a later scan, and what the window is told.

#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "mail/MMes.h"
#include "mail/MSession.h"
#include "mail/RunScan.h"
#include "mail/ScanHost.h"
#include "mail/WaitingArchives.h"
#include "settings/Settings.h"
#include "tests/archive/ToolArchive.h"
#include "tests/archive/ZipMaker.h"
#include "tests/mail/FakeStore.h"
#include "tests/mail/QuietScanHost.h"
#include "tests/support/EnvOverride.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::FakeMailbox;
using testing::FakeMessage;
using testing::FakeStore;
using testing::TempDir;
using testing::ZipInput;

constexpr char kSender[] = "tanaka@example.co.jp";
constexpr char kPassword[] = "Xk7pQ2mz";

class Host : public testing::QuietScanHost {
 public:
  ArchiveOptions options;
  ScanSummary summary;
  int summaries = 0;

  ArchiveOptions ArchiveChoices() override { return options; }
  void ShowSummary(const ScanSummary& s) override {
    summary = s;
    ++summaries;
  }
};

std::string Base64(const std::string& bytes) {
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string text(encoded);
  g_free(encoded);
  return text;
}

// A mail with `zip` attached as `name`.
FakeMessage ArchiveMail(const std::string& from, const std::string& date,
                        const std::string& subject, const std::string& name,
                        const std::string& zip) {
  FakeMessage m;
  m.subject = subject;
  m.from = from;
  m.bytes = "From: " + from + "\nDate: " + date + "\nSubject: " + subject +
            "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n"
            "--b\nContent-Type: text/plain; charset=UTF-8\n\nお世話になっております。\n"
            "--b\nContent-Type: application/zip\nContent-Disposition: attachment; filename=\"" +
            name + "\"\nContent-Transfer-Encoding: base64\n\n" + Base64(zip) + "\n--b--\n";
  return m;
}

// A mail without attachments: `content_fields` describe `body`.
FakeMessage TextMail(const std::string& from, const std::string& date, const std::string& subject,
                     const std::string& content_fields, const std::string& body) {
  FakeMessage m;
  m.subject = subject;
  m.from = from;
  m.bytes = "From: " + from + "\nDate: " + date + "\nSubject: " + subject +
            "\nMIME-Version: 1.0\n" + content_fields + "\n\n" + body + "\n";
  return m;
}

const std::string kPlainUtf8 = "Content-Type: text/plain; charset=UTF-8";

std::string Iso2022jp(const std::string& utf8) {
  gsize written = 0;
  gchar* converted = g_convert(utf8.data(), static_cast<gssize>(utf8.size()), "ISO-2022-JP",
                               "UTF-8", nullptr, &written, nullptr);
  std::string bytes(converted, written);
  g_free(converted);
  return bytes;
}

class ArchivePassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = SettingsRecord{};
    Settings.Path = destination_.path().string();
    box_ = std::make_shared<FakeMailbox>();
  }
  void TearDown() override { Settings = SettingsRecord{}; }

  void Scan() {
    MSession session([this](const SignOnRequest&) { return std::make_unique<FakeStore>(box_); });
    MMes messages(session);
    PrepareSession(session);
    RunScan(host_, session, messages);
  }

  // An archive of two files, one in a folder, made by `tool`.
  std::string Zip(const std::string& tool, const std::vector<std::string>& args) {
    const fs::path folder = work_.path() / ("in" + std::to_string(++made_));
    fs::create_directories(folder);
    const fs::path archive = work_.path() / ("a" + std::to_string(made_) + ".zip");
    const std::vector<ZipInput> inputs = {{"請求書.pdf", "%PDF-1.4 invoice"},
                                          {"memo.txt", "memo text"}};
    if (!testing::ArchiveWithTools("", {{tool, args, inputs}}, folder, archive)) {
      ADD_FAILURE() << tool << " is missing";
    }
    return testing::ReadFile(archive);
  }
  std::string PkwareZip(const std::string& password) { return Zip("zip", {"-q", "-P", password}); }
  std::string Aes256Zip(const std::string& password) {
    return Zip("7z", {"a", "-tzip", "-mem=AES256", "-p" + password, "-bd", "-bso0"});
  }

  std::set<std::string> Entries(const fs::path& folder) const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(".quillmar-", 0) != 0) names.insert(name);
    }
    return names;
  }

  TempDir destination_;
  TempDir work_;
  TempDir state_;
  testing::EnvOverride state_home_{"XDG_STATE_HOME", state_.path().string()};
  std::shared_ptr<FakeMailbox> box_;
  Host host_;
  int made_ = 0;
};

struct NoticeCase {
  const char* name;
  std::string from;
  std::string subject;
  std::string content_fields;
  std::string body;
};

class PasswordNoticeTest : public ArchivePassTest,
                           public ::testing::WithParamInterface<NoticeCase> {};

// The shapes a person or a gateway writes the password in: each opens the
// archive, sent a minute after it.
TEST_P(PasswordNoticeTest, UnpacksTheArchiveWithThePasswordTheMailGives) {
  const NoticeCase& c = GetParam();
  box_->messages = {
      ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "見積書送付の件", "見積書.zip",
                  PkwareZip(kPassword)),
      TextMail(c.from, "Mon, 7 Dec 2026 10:01:00 +0900", c.subject, c.content_fields, c.body)};
  Scan();
  EXPECT_EQ(Entries(destination_.path()), (std::set<std::string>{"見積書.zip", "見積書"}));
  EXPECT_EQ(Entries(destination_.path() / "見積書"),
            (std::set<std::string>{"請求書.pdf", "memo.txt"}));
  EXPECT_EQ(testing::ReadFile(destination_.path() / "見積書" / "請求書.pdf"), "%PDF-1.4 invoice");
  EXPECT_EQ(host_.summary.archives_unpacked, 1);
  EXPECT_EQ(host_.summary.archives_waiting, 0);
  EXPECT_EQ(host_.summary.files_saved, 1);
  // The archive's mail is fetched once (a server may be far away); the
  // notice by the walk, and again for its text.
  EXPECT_EQ(box_->opened, (std::vector<std::size_t>{0, 1, 1}));
}

const std::string kGateway = "noreply-gateway@mail-guard.example.net";

INSTANTIATE_TEST_SUITE_P(
    Shapes, PasswordNoticeTest,
    ::testing::Values(
        NoticeCase{"SameLine", kSender, "パスワード", kPlainUtf8,
                   "先ほどのファイルのパスワードです。\nパスワード：" + std::string(kPassword)},
        NoticeCase{"NextLine", kSender, "Re: 見積書送付の件", kPlainUtf8,
                   "解凍パスワードは以下の通りです。\n\n" + std::string(kPassword) + "\n"},
        NoticeCase{"LenticularBrackets", kSender, "Re: 見積書送付の件", kPlainUtf8,
                   "【パスワード】" + std::string(kPassword)},
        NoticeCase{"FullWidth", kSender, "Re: 見積書送付の件", kPlainUtf8,
                   "ＰＷ：Ｘｋ７ｐＱ２ｍｚ"},
        NoticeCase{"English", kSender, "Password", kPlainUtf8,
                   "Password: " + std::string(kPassword)},
        NoticeCase{
            "HtmlOnly", kSender, "Re: 見積書送付の件", "Content-Type: text/html; charset=UTF-8",
            "<html><body><p>パスワード：<b>" + std::string(kPassword) + "</b></p></body></html>"},
        NoticeCase{"Iso2022jp", kSender, "Re: 見積書送付の件",
                   "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit",
                   Iso2022jp("パスワード：" + std::string(kPassword))},
        NoticeCase{"GatewayNamesTheFile", kGateway, "【パスワード通知】見積書送付の件", kPlainUtf8,
                   "添付ファイル「見積書.zip」のパスワードをお知らせします。\n\nパスワード: " +
                       std::string(kPassword)}),
    [](const ::testing::TestParamInfo<NoticeCase>& info) { return std::string(info.param.name); });

// Before or after, in the listing: the order of delivery is not the order
// of the mails' dates.
TEST_F(ArchivePassTest, PasswordMailBeforeTheArchiveAndAes256) {
  box_->messages = {TextMail(kSender, "Mon, 7 Dec 2026 09:59:00 +0900", "パスワード", kPlainUtf8,
                             "パスワード: " + std::string(kPassword)),
                    ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "資料", "資料.zip",
                                Aes256Zip(kPassword))};
  Scan();
  EXPECT_EQ(Entries(destination_.path() / "資料"),
            (std::set<std::string>{"請求書.pdf", "memo.txt"}));
}

// Two archives from one sender, each with its own password and notice.
TEST_F(ArchivePassTest, TwoArchivesFromOneSenderWithTheirOwnPasswords) {
  box_->messages = {ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "見積書", "見積書.zip",
                                PkwareZip("FirstPw11")),
                    ArchiveMail(kSender, "Mon, 7 Dec 2026 10:05:00 +0900", "請求書", "請求書.zip",
                                Aes256Zip("SecondPw22")),
                    TextMail(kSender, "Mon, 7 Dec 2026 10:01:00 +0900", "見積書 パスワード",
                             kPlainUtf8, "見積書.zip のパスワード: FirstPw11"),
                    TextMail(kSender, "Mon, 7 Dec 2026 10:06:00 +0900", "請求書 パスワード",
                             kPlainUtf8, "請求書.zip のパスワード: SecondPw22")};
  Scan();
  EXPECT_EQ(Entries(destination_.path()),
            (std::set<std::string>{"見積書.zip", "見積書", "請求書.zip", "請求書"}));
  EXPECT_EQ(host_.summary.archives_unpacked, 2);
}

// No mail gives the password, or a wrong one: the archive is saved as it
// came and remembered; a later scan that sees the password unpacks it.
TEST_F(ArchivePassTest, PasswordInALaterScanUnpacksTheArchiveAlreadySaved) {
  box_->messages = {ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "見積書", "見積書.zip",
                                PkwareZip(kPassword)),
                    TextMail(kSender, "Mon, 7 Dec 2026 10:01:00 +0900", "パスワード", kPlainUtf8,
                             "パスワード: WrongOne9")};
  Scan();
  EXPECT_EQ(Entries(destination_.path()), (std::set<std::string>{"見積書.zip"}));
  EXPECT_EQ(host_.summary.archives_waiting, 1);
  EXPECT_EQ(WaitingArchivesRecord(WaitingArchivesPath()).Read().size(), 1u);

  box_->messages.push_back(TextMail(kSender, "Mon, 7 Dec 2026 10:30:00 +0900", "再送: パスワード",
                                    kPlainUtf8, "正しいパスワード: " + std::string(kPassword)));
  Scan();  // the archive's message is read by now: nothing is saved again
  EXPECT_EQ(Entries(destination_.path()), (std::set<std::string>{"見積書.zip", "見積書"}));
  EXPECT_EQ(host_.summary.archives_unpacked, 1);
  EXPECT_EQ(host_.summary.archives_waiting, 0);
  EXPECT_TRUE(WaitingArchivesRecord(WaitingArchivesPath()).Read().empty());
}

// An archive the user moved away meanwhile, or one replaced by other bytes,
// is dropped from the record and nothing is unpacked.
TEST_F(ArchivePassTest, ArchiveMovedOrReplacedMeanwhileIsDropped) {
  Settings.Opt[1] = 1;  // unread mail only: the archive's mail is not saved again
  for (const bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replaced" : "moved");
    fs::remove_all(destination_.path());
    fs::create_directories(destination_.path());
    box_->messages = {ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "見積書", "見積書.zip",
                                  PkwareZip(kPassword))};
    Scan();
    ASSERT_EQ(host_.summary.archives_waiting, 1);
    fs::remove(destination_.path() / "見積書.zip");
    if (replace) {
      std::ofstream(destination_.path() / "見積書.zip", std::ios::binary) << PkwareZip(kPassword);
    }
    box_->messages.push_back(TextMail(kSender, "Mon, 7 Dec 2026 10:01:00 +0900", "パスワード",
                                      kPlainUtf8, "パスワード: " + std::string(kPassword)));
    Scan();
    EXPECT_FALSE(fs::exists(destination_.path() / "見積書"));
    EXPECT_EQ(host_.summary.archives_waiting, 0);
    EXPECT_TRUE(WaitingArchivesRecord(WaitingArchivesPath()).Read().empty());
  }
}

// A record whose window has passed is dropped without a try; one of another
// destination folder is kept untouched.
TEST_F(ArchivePassTest, ExpiredRecordsGoAndOtherFoldersStay) {
  const auto now = std::chrono::system_clock::now();
  const WaitingArchivesRecord record(WaitingArchivesPath());
  const std::string digest(32, 'x');
  record.Write({{Settings.Path,
                 "old.zip",
                 digest,
                 {"old.zip", kSender, now - std::chrono::hours(200)},
                 now - std::chrono::hours(200)},
                {"/elsewhere", "other.zip", digest, {"other.zip", kSender, now}, now}});
  Scan();
  const std::vector<WaitingArchive> left = record.Read();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].destination, "/elsewhere");
  EXPECT_EQ(host_.summary.archives_waiting, 0);
}

// Unpacking is the user's choice: encrypted archives with a found password
// by default, plain ones only when chosen, none when both are off.
TEST_F(ArchivePassTest, OptionsDecideWhatIsUnpacked) {
  struct Case {
    ArchiveOptions options;
    std::set<std::string> expected;
  };
  const std::string plain = Zip("zip", {"-q"});
  const std::string encrypted = PkwareZip(kPassword);
  for (const Case& c : {Case{{true, false}, {"plain.zip", "secret.zip", "secret"}},
                        Case{{true, true}, {"plain.zip", "plain", "secret.zip", "secret"}},
                        Case{{false, false}, {"plain.zip", "secret.zip"}}}) {
    fs::remove_all(destination_.path());
    fs::create_directories(destination_.path());
    fs::remove(WaitingArchivesPath());
    host_.options = c.options;
    box_->messages = {
        ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "a", "plain.zip", plain),
        ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "b", "secret.zip", encrypted),
        TextMail(kSender, "Mon, 7 Dec 2026 10:01:00 +0900", "パスワード", kPlainUtf8,
                 "パスワード: " + std::string(kPassword))};
    Scan();
    EXPECT_EQ(Entries(destination_.path()), c.expected);
  }
}

// A folder of the archive's name exists: the new one is numbered, and the
// archive's own folders and awkward names are kept inside it, safely.
TEST_F(ArchivePassTest, UnpackedFolderNeverReplacesAndKeepsNamesSafe) {
  fs::create_directories(destination_.path() / "資料");
  std::ofstream(destination_.path() / "資料" / "keep.txt") << "mine";
  const fs::path archive = work_.path() / "names.zip";
  testing::MakeZip(archive, {{"sub/深い/a.txt", "deep", testing::NameMark::kUtf8},
                             {"\x8c\xa9\x90\xcf.txt", "cp932"},  // 見積 in CP932, no flag
                             {"../../escape.txt", "up"},
                             {"/abs.txt", "abs"},
                             {"dup.txt", "one"},
                             {"./dup.txt", "two"},
                             {"empty.txt", ""},
                             {"folder/", ""}});
  host_.options = {true, true};
  box_->messages = {ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "資料", "資料.zip",
                                testing::ReadFile(archive))};
  Scan();
  EXPECT_EQ(Entries(destination_.path() / "資料"), (std::set<std::string>{"keep.txt"}));
  const fs::path unpacked = destination_.path() / "資料 (2)";
  EXPECT_EQ(Entries(unpacked),
            (std::set<std::string>{"sub", "見積.txt", "escape.txt", "abs.txt", "dup.txt",
                                   "dup (2).txt", "empty.txt", "folder"}));
  EXPECT_EQ(testing::ReadFile(unpacked / "sub" / "深い" / "a.txt"), "deep");
  EXPECT_EQ(testing::ReadFile(unpacked / "dup (2).txt"), "two");
  EXPECT_FALSE(fs::exists(work_.path().parent_path() / "escape.txt"));
}

// Beyond the limits (a bomb of zeros), or with an entry whose bytes do not
// match its CRC, the archive is kept as it came, nothing of it is left
// half-unpacked, and the window is told; 10,000 entries are unpacked.
TEST_F(ArchivePassTest, BombAndWrongCrcAreKeptAndManyEntriesAreUnpacked) {
  const fs::path bomb = work_.path() / "bomb.zip";
  testing::MakeZerosZip(bomb, std::uint64_t{1} << 30);
  const fs::path crc = work_.path() / "crc.zip";
  testing::MakeZip(crc, {{"first.txt", "whole and fine", testing::NameMark::kNone, true},
                         {"second.txt", "hello world", testing::NameMark::kNone, true}});
  std::string damaged = testing::ReadFile(crc);
  damaged[damaged.find("hello world")] = 'j';
  const fs::path many = work_.path() / "many.zip";
  std::vector<ZipInput> inputs;
  for (int i = 0; i < 10000; ++i) inputs.push_back({"f/" + std::to_string(i) + ".txt", "x"});
  testing::MakeZip(many, inputs);
  host_.options = {true, true};
  box_->messages = {
      ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "a", "bomb.zip",
                  testing::ReadFile(bomb)),
      ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "b", "many.zip",
                  testing::ReadFile(many)),
      ArchiveMail(kSender, "Mon, 7 Dec 2026 10:00:00 +0900", "c", "crc.zip", damaged)};
  Scan();
  EXPECT_EQ(Entries(destination_.path()),
            (std::set<std::string>{"bomb.zip", "many.zip", "many", "crc.zip"}));
  EXPECT_EQ(Entries(destination_.path() / "many" / "f").size(), 10000u);
  EXPECT_EQ(host_.summary.archives_kept, 2);
  EXPECT_EQ(host_.summary.archives_unpacked, 1);
}

}  // namespace
}  // namespace qm
