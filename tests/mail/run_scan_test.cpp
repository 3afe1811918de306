// The scan against an in-memory mailbox and a fake window: which messages are
// selected, what is saved, the order of the window calls, cancelling, and the
// checks made before signing on.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "mail/MMes.h"
#include "mail/MSession.h"
#include "mail/RunScan.h"
#include "mail/ScanHost.h"
#include "maildir/MaildirStore.h"
#include "settings/Settings.h"
#include "tests/mail/FakeStore.h"
#include "tests/mail/MaildirFixture.h"
#include "tests/support/FailureKindOf.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"
#include "text/KeywordSearch.h"

namespace qm {
namespace {

using testing::FakeMailbox;
using testing::FakeMessage;
using testing::FakeStore;
using testing::TempDir;

class FakeHost : public ScanHost {
 public:
  std::vector<std::string> calls;
  ScanProgress last;
  std::vector<std::string> files;  // the file being saved, at every report
  std::int64_t cancel_after = -1;  // examined count at which the user cancels

  void StoreControls() override { calls.push_back("store"); }
  void SetScanEnabled(bool enabled) override { calls.push_back(enabled ? "enable" : "disable"); }
  void YieldOnce() override { calls.push_back("yield"); }
  void ShowProgress(const ScanProgress& progress) override {
    last = progress;
    files.push_back(progress.current_file);
  }
  bool CancelRequested() override { return cancel_after >= 0 && last.examined >= cancel_after; }
  void ScanFinished() override { calls.push_back("finished"); }
  void EndProgram() override { calls.push_back("end"); }
};

// A message whose one attachment is named after `tag`, so the files in the
// destination tell which messages were selected.
FakeMessage Mail(const std::string& tag, const std::string& subject, const std::string& from,
                 bool read = false) {
  FakeMessage m;
  m.subject = subject;
  m.from = from;
  m.read = read;
  m.bytes = "Subject: " + subject + "\nFrom: " + from +
            "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n"
            "--b\nContent-Type: text/plain\n\nbody\n"
            "--b\nContent-Type: text/plain\nContent-Disposition: attachment; filename=\"" +
            tag + ".txt\"\n\ncontent of " + tag + "\n--b--\n";
  return m;
}

class RunScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = SettingsRecord{};
    Settings.Path = destination_.path().string();
    box_ = std::make_shared<FakeMailbox>();
  }
  void TearDown() override { Settings = SettingsRecord{}; }

  // Runs one scan in a fresh session, as a click on GET does.
  void Scan() {
    MSession session([this](const SignOnRequest&) {
      ++sign_ons_;
      return std::make_unique<FakeStore>(box_);
    });
    MMes messages(session);
    PrepareSession(session);
    RunScan(host_, session, messages);
  }

  std::set<std::string> SavedFiles() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(destination_.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  TempDir destination_;
  std::shared_ptr<FakeMailbox> box_;
  FakeHost host_;
  int sign_ons_ = 0;
};

// The window names a file that takes long: the scan tells the host of each
// file before writing it, and that none is being written between files and
// after each message.
TEST_F(RunScanTest, TellsTheHostOfEachFileBeforeItIsSaved) {
  FakeMessage two = Mail("first", "two files", "a@example.jp");
  two.bytes =
      "Subject: two files\nFrom: a@example.jp\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=\"b\"\n\n"
      "--b\nContent-Type: text/plain\n\nbody\n"
      "--b\nContent-Disposition: attachment; filename=\"見積書.pdf\"\n\nx\n"
      "--b\nContent-Disposition: attachment; filename=\"b.txt\"\n\ny\n--b--\n";
  box_->messages = {Mail("m1", "Invoice", "billing@example.jp"),
                    Mail("m2", "Other", "other@example.jp"), two};
  Settings.Keyword = "i";  // "Invoice" and "two files", not "Other"
  Scan();
  const std::vector<std::string> expected = {"m1.txt", "", "", "", "見積書.pdf", "b.txt", "", ""};
  EXPECT_EQ(host_.files, expected);
  EXPECT_EQ(host_.last.saved, 3);
  EXPECT_EQ(host_.last.examined, 3);
}

TEST_F(RunScanTest, EmptyInboxSignsOnAndOffAndTouchesNothing) {
  Scan();
  EXPECT_EQ(sign_ons_, 1);
  EXPECT_EQ(box_->commits, 1);
  EXPECT_TRUE(SavedFiles().empty());
  const std::vector<std::string> expected = {"store", "disable", "yield",
                                             "yield", "enable",  "finished"};
  EXPECT_EQ(host_.calls, expected);
}

struct SelectionCase {
  const char* name;
  std::string keyword;
  std::int16_t item;
  std::array<std::int32_t, 3> opt;
  std::set<std::string> expected;  // tags of the messages whose files are saved
};

void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

// m1 unread "Invoice for May" from 経理部 <billing@example.jp>
// m2 read   "Re: xABCx"       from Alice <alice@abc.example>
// m3 unread "ｱﾄﾞﾚｽ帳の更新"     from あどれす係 <book@example.jp>
// m4 read   "請求書"           from Bob <bob@example.com>
class Selection : public RunScanTest, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selection, SavesTheAttachmentsOfExactlyTheSelectedMessages) {
  box_->messages = {Mail("m1", "Invoice for May", "=?UTF-8?B?57WM55CG6YOo?= <billing@example.jp>"),
                    Mail("m2", "Re: xABCx", "Alice <alice@abc.example>", true),
                    Mail("m3", "ｱﾄﾞﾚｽ帳の更新", "あどれす係 <book@example.jp>"),
                    Mail("m4", "請求書", "Bob <bob@example.com>", true)};
  const SelectionCase& c = GetParam();
  Settings.Keyword = c.keyword;
  Settings.Item = c.item;
  Settings.Opt = c.opt;
  Scan();
  std::set<std::string> expected;
  for (const std::string& tag : c.expected) expected.insert(tag + ".txt");
  EXPECT_EQ(SavedFiles(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    RunScan, Selection,
    ::testing::Values(
        SelectionCase{"EmptyKeywordTakesAll", "", 0, {0, 0, 0}, {"m1", "m2", "m3", "m4"}},
        SelectionCase{"StarTakesAll", "*", 0, {0, 0, 0}, {"m1", "m2", "m3", "m4"}},
        SelectionCase{"StarOnlyAsWholeKeyword", "May*", 0, {0, 0, 0}, {}},
        SelectionCase{"SubjectIgnoresCase", "abc", 0, {0, 0, 0}, {"m2"}},
        SelectionCase{"SubjectInvoice", "INVOICE", 0, {0, 0, 0}, {"m1"}},
        SelectionCase{"KatakanaWidthAndKana", "アドレス", 0, {0, 0, 0}, {"m3"}},
        SelectionCase{"SenderNameDecoded", "経理", 1, {0, 0, 0}, {"m1"}},
        SelectionCase{"SenderNameHiragana", "アドレス", 1, {0, 0, 0}, {"m3"}},
        SelectionCase{"AddressNotSubject", "abc", 2, {0, 0, 0}, {"m2"}},
        SelectionCase{"AddressOnly", "invoice", 2, {0, 0, 0}, {}},
        SelectionCase{"ItemOutOfRangeMatchesNothing", "abc", 3, {0, 0, 0}, {}},
        SelectionCase{"ItemOutOfRangeEmptyKeyword", "", 7, {0, 0, 0}, {"m1", "m2", "m3", "m4"}},
        SelectionCase{"UnreadOnly", "", 0, {0, 1, 0}, {"m1", "m3"}},
        SelectionCase{"UnreadOnlyWithKeyword", "abc", 0, {0, 1, 0}, {}},
        SelectionCase{"AllMailIgnoresKeyword", "nothing", 0, {1, 0, 0}, {"m1", "m2", "m3", "m4"}},
        SelectionCase{"AllUnread", "nothing", 0, {1, 1, 0}, {"m1", "m3"}},
        SelectionCase{"GrayedAllMailIsKeywordMode", "abc", 0, {2, 0, 0}, {"m2"}},
        SelectionCase{"GrayedUnreadActsAsUnreadOnly", "", 0, {0, 2, 0}, {"m1", "m3"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(RunScanTest, MarksSavedMessagesReadSoUnreadOnlyCollectsNothingNext) {
  box_->messages = {Mail("m1", "a", "x@y"), Mail("m2", "b", "x@y"), Mail("m3", "c", "x@y", true)};
  Settings.Opt = {0, 1, 0};
  Scan();
  EXPECT_EQ(SavedFiles(), (std::set<std::string>{"m1.txt", "m2.txt"}));
  for (const FakeMessage& m : box_->messages) EXPECT_TRUE(m.read);

  std::filesystem::remove(destination_ / "m1.txt");
  std::filesystem::remove(destination_ / "m2.txt");
  Scan();
  EXPECT_TRUE(SavedFiles().empty());
}

TEST_F(RunScanTest, ReadMailIsProcessedAgainWhenUnreadOnlyIsClear) {
  box_->messages = {Mail("m1", "a", "x@y", true)};
  Scan();
  std::filesystem::remove(destination_ / "m1.txt");
  Scan();
  EXPECT_EQ(SavedFiles(), (std::set<std::string>{"m1.txt"}));
}

TEST_F(RunScanTest, AutoExitOnlyWhenTheBoxIsChecked) {
  for (std::int32_t state : {0, 1, 2}) {
    host_.calls.clear();
    Settings.Opt = {0, 0, state};
    Scan();
    const bool ended = !host_.calls.empty() && host_.calls.back() == "end";
    EXPECT_EQ(ended, state == 1) << "Opt(2) = " << state;
  }
}

TEST_F(RunScanTest, CancelStopsAfterTheCurrentMessageAndStillSignsOff) {
  box_->messages = {Mail("m1", "a", "x@y"), Mail("m2", "b", "x@y"), Mail("m3", "c", "x@y")};
  host_.cancel_after = 1;
  Scan();
  EXPECT_EQ(SavedFiles(), (std::set<std::string>{"m1.txt"}));
  EXPECT_EQ(host_.last.examined, 1);
  EXPECT_EQ(box_->commits, 1);
  EXPECT_TRUE(box_->messages[0].read);
  EXPECT_FALSE(box_->messages[1].read);
  EXPECT_EQ(host_.calls.back(), "finished");
}

// A file that cannot be written whole (here: past the process's file size
// limit, while it is written in the background) fails the scan with a
// FileWrite failure before sign-off: it gets no final name, nothing hidden is
// left behind, and no message is marked read.
TEST_F(RunScanTest, WriteFailureFailsTheScanAndMarksNothing) {
  testing::MaildirFixture box;
  const std::string big_file =
      "--b\nContent-Type: application/octet-stream\n"
      "Content-Disposition: attachment; filename=\"big.bin\"\n"
      "Content-Transfer-Encoding: 8bit\n\n" +
      std::string(256 * 1024, 'x') + "\n";
  std::string big = Mail("m2", "b", "x@y").bytes;
  big.insert(big.rfind("--b--"), big_file);
  const std::vector<std::string> keys = {box.Add(Mail("m1", "a", "x@y").bytes), box.Add(big),
                                         box.Add(Mail("m3", "c", "x@y").bytes)};
  MSession session(
      [&](const SignOnRequest&) { return std::make_unique<MaildirStore>(box.maildir()); });
  MMes messages(session);
  PrepareSession(session);

  const FailureKind kind = [&] {
    const testing::FileSizeLimit limit(64 * 1024);
    return testing::KindOf([&] { RunScan(host_, session, messages); });
  }();

  EXPECT_EQ(kind, FailureKind::FileWrite);
  for (const std::string& key : keys) EXPECT_EQ(box.Flags(key), "") << key;
  for (const std::string& name : SavedFiles()) {
    EXPECT_NE(name, "big.bin");
    EXPECT_NE(name[0], '.') << name;
  }
}

// Unreadable messages are skipped wherever they are read (headers for the
// keyword test, or the whole message): everything else is collected and
// marked, they stay unread, and one failure after sign-off names the first.
TEST_F(RunScanTest, UnreadableMessagesAreSkippedLeftUnreadAndReportedOnce) {
  struct Case {
    const char* name;
    std::array<std::int32_t, 3> opt;
    std::vector<std::size_t> unreadable;
    std::string text;  // "" when the scan ends without a failure
  };
  const Case cases[] = {
      {"keyword test reads the headers",
       {0, 1, 1},
       {1, 3},
       "2 messages could not be read; the first: message 1: Input/output error"},
      {"all mail reads only the message",
       {1, 1, 1},
       {2},
       "1 message could not be read: message 2: Input/output error"},
      {"none", {0, 1, 1}, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    box_ = std::make_shared<FakeMailbox>();
    for (const char* tag : {"m0", "m1", "m2", "m3"})
      box_->messages.push_back(Mail(tag, tag, "x@y"));
    for (const std::size_t i : c.unreadable) box_->messages[i].unreadable = true;
    for (const auto& entry : std::filesystem::directory_iterator(destination_.path())) {
      std::filesystem::remove(entry.path());
    }
    host_.calls.clear();
    Settings.Opt = c.opt;

    std::string text;
    FailureKind kind = FailureKind::Internal;
    try {
      Scan();
    } catch (const Failure& failure) {
      text = failure.what();
      kind = failure.kind();
      EXPECT_EQ(failure.cause(), Cause::kUnreadableMessage);
    }
    EXPECT_EQ(text, c.text);
    if (!c.text.empty()) {
      EXPECT_EQ(kind, FailureKind::Unreadable);
    }
    std::set<std::string> saved;
    for (std::size_t i = 0; i < box_->messages.size(); ++i) {
      const bool skipped = box_->messages[i].unreadable;
      EXPECT_EQ(box_->messages[i].read, !skipped) << i;
      if (!skipped) saved.insert("m" + std::to_string(i) + ".txt");
    }
    EXPECT_EQ(SavedFiles(), saved);
    EXPECT_EQ(box_->commits, 1);
    // Signed off and enabled before the report; the program is not ended
    // for the auto-exit: the report's exit code ends it.
    const std::vector<std::string> tail = c.text.empty()
                                              ? std::vector<std::string>{"finished", "end"}
                                              : std::vector<std::string>{"enable", "finished"};
    ASSERT_GE(host_.calls.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(host_.calls.end() - 2, host_.calls.end()), tail);
  }
}

TEST_F(RunScanTest, ProgressCountsMessagesAndFiles) {
  box_->messages = {Mail("m1", "a", "x@y"), Mail("m2", "b", "x@y", true)};
  Settings.Opt = {0, 1, 0};
  Scan();
  EXPECT_EQ(host_.last.examined, 2);
  EXPECT_EQ(host_.last.total, 2);
  EXPECT_EQ(host_.last.saved, 1);
}

struct RefusedDestination {
  const char* name;
  std::string path;  // relative to the test's folder unless empty
};

void PrintTo(const RefusedDestination& c, std::ostream* os) { *os << c.name; }

class Refused : public RunScanTest, public ::testing::WithParamInterface<RefusedDestination> {};

TEST_P(Refused, BeforeSigningOnAndWithoutTouchingTheMailbox) {
  box_->messages = {Mail("m1", "a", "x@y")};
  std::filesystem::path folder;
  if (!GetParam().path.empty()) {
    std::ofstream(destination_ / "plain-file") << "x";
    folder = destination_ / GetParam().path;
  }
  Settings.Path = folder.string();
  try {
    Scan();
    FAIL() << "the scan did not refuse " << Settings.Path;
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::Destination);
  }
  EXPECT_EQ(sign_ons_, 0);
  EXPECT_FALSE(box_->messages[0].read);
  EXPECT_EQ(host_.calls, std::vector<std::string>{"store"});
}

INSTANTIATE_TEST_SUITE_P(RunScan, Refused,
                         ::testing::Values(RefusedDestination{"Empty", ""},
                                           RefusedDestination{"Missing", "no/such/folder"},
                                           RefusedDestination{"AFile", "plain-file"},
                                           RefusedDestination{"UnderAFile", "plain-file/sub"}),
                         [](const auto& info) { return info.param.name; });

// More messages than a 16-bit counter can walk.
TEST_F(RunScanTest, WalksAHundredThousandMessages) {
  box_->messages.assign(100000, FakeMessage{"daily report", "robot@example.com", false, ""});
  box_->messages.back() = Mail("last", "invoice", "robot@example.com");
  Settings.Keyword = "invoice";
  Scan();
  EXPECT_EQ(host_.last.examined, 100000);
  EXPECT_EQ(SavedFiles(), (std::set<std::string>{"last.txt"}));
}

TEST(MatchesKeyword, ReadsTheChosenFieldEvenForStar) {
  auto box = std::make_shared<FakeMailbox>();
  box->messages = {FakeMessage{"subject", "Name <a@b>", false, ""}};
  MSession session([box](const SignOnRequest&) { return std::make_unique<FakeStore>(box); });
  MMes messages(session);
  session.SignOn();
  messages.SetSessionHandle(session.SessionHandle());
  messages.Fetch();
  messages.SetCurrentMessage(0);
  Settings = SettingsRecord{};
  EXPECT_TRUE(MatchesKeyword(messages, KeywordSearch("*")));
  EXPECT_EQ(box->header_reads.size(), 1u);
  EXPECT_FALSE(MatchesKeyword(messages, KeywordSearch("nothing")));
  session.Discard();
  Settings = SettingsRecord{};
}

}  // namespace
}  // namespace qm
