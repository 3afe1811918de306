// The record of archives still waiting for their password, and the choice of
// mails to read for one: what survives a round trip, what a damaged record
// gives, when a record expires, and which messages are read first.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mail/PasswordMailIndex.h"
#include "mail/WaitingArchives.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using std::chrono::hours;

const MailTime kNow = MailTime(std::chrono::seconds(1'800'000'000));

WaitingArchive Waiting(const std::string& name, std::optional<MailTime> sent, MailTime saved) {
  return {"/home/u/受信", name, std::string(32, '\xab'), {name, "a@example.jp", sent}, saved};
}

TEST(WaitingArchivesRecord, KeepsWhatItWasGivenUpToItsBound) {
  testing::TempDir dir;
  const WaitingArchivesRecord record(dir.path() / "sub" / "waiting.json");
  EXPECT_TRUE(record.Read().empty());  // none yet
  std::vector<WaitingArchive> many;
  for (std::size_t i = 0; i < kMaxWaitingArchives + 3; ++i) {
    many.push_back(Waiting("見積書" + std::to_string(i) + ".zip", std::nullopt, kNow));
  }
  many[kMaxWaitingArchives + 2].archive.sent = kNow - hours(1);
  record.Write(many);
  const std::vector<WaitingArchive> read = record.Read();
  ASSERT_EQ(read.size(), kMaxWaitingArchives);  // the oldest went
  EXPECT_EQ(read.front().name, "見積書3.zip");
  EXPECT_EQ(read.back().digest, std::string(32, '\xab'));
  EXPECT_EQ(read.back().archive.sent, kNow - hours(1));
  EXPECT_FALSE(read.front().archive.sent);
  EXPECT_EQ(read.back().saved, kNow);
  record.Write({});
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "sub" / "waiting.json"));
}

TEST(WaitingArchivesRecord, DamagedRecordIsNoRecord) {
  testing::TempDir dir;
  const std::filesystem::path file = dir.path() / "waiting.json";
  for (const std::string& text :
       {std::string("{\"archives\": [{\"name\": \"a.zip\"}]}"), std::string("not json"),
        std::string("{\"archives\": [{\"destination\": \"/d\", \"name\": \"a.zip\", \"sha256\": "
                    "\"ab\", \"file_name\": \"a.zip\", \"sender\": \"\", \"saved\": 1}]}"),
        std::string(2 * 1024 * 1024, ' ')}) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    EXPECT_TRUE(WaitingArchivesRecord(file).Read().empty()) << text.substr(0, 40);
  }
}

TEST(WaitingArchives, ExpireSevenDaysAfterTheirMailOrTheirSaving) {
  struct Case {
    std::optional<MailTime> sent;
    MailTime saved;
    bool expired;
  };
  for (const Case& c :
       {Case{kNow - hours(24 * 7) + hours(1), kNow - hours(24 * 7), false},
        Case{kNow - hours(24 * 7) - hours(1), kNow - hours(24 * 7) - hours(1), true},
        Case{std::nullopt, kNow - hours(24 * 6), false},
        Case{std::nullopt, kNow - hours(24 * 8), true},
        // A mail dated long ago but saved today waits from today.
        Case{kNow - hours(24 * 30), kNow, false}}) {
    EXPECT_EQ(HasExpired(Waiting("a.zip", c.sent, c.saved), kNow), c.expired);
  }
}

TEST(PasswordMailIndex, SameSenderOrAPasswordSubjectNearestFirst) {
  PasswordMailIndex index;
  index.Add(0, "Tanaka@Example.jp", "見積書");
  index.Add(1, "other@example.jp", "ランチ");
  index.Add(2, "gw@guard.example", "【パスワード通知】見積書");
  index.Add(3, "other@example.jp", "パスポートの件");  // not a password label
  index.Add(4, "tanaka@example.jp", "Re: 見積書");
  index.Add(5, "gw@guard.example", "ﾊﾟｽﾜｰﾄﾞのお知らせ");
  struct Case {
    std::string sender;
    std::int64_t near;
    std::size_t limit;
    std::vector<std::int64_t> expected;
  };
  for (const Case& c : {Case{"tanaka@example.jp", 0, 10, {0, 2, 4, 5}},
                        Case{"tanaka@example.jp", 3, 10, {4, 2, 5, 0}},
                        Case{"tanaka@example.jp", -1, 10, {5, 4, 2, 0}},
                        Case{"tanaka@example.jp", 0, 2, {0, 2}}, Case{"", 0, 10, {2, 5}}}) {
    EXPECT_EQ(index.CandidatesFor(c.sender, c.near, c.limit), c.expected) << c.sender << c.near;
  }
}

}  // namespace
}  // namespace qm
