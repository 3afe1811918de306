// The whole job through the real binary with no display, as cron runs it:
// a settings file and a Maildir written here, "-a" on the command line, and
// the destination folder, the Maildir flags, the output and the exit code
// checked afterwards.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "tests/e2e/EndToEnd.h"
#include "tests/support/CiSkip.h"
#include "tests/support/TempDir.h"
#include "tests/support/TmpfsMount.h"
#include "tests/support/WaitForChange.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;

class ScanEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeRunFolders(root_);
    for (const char* sub : {"Maildir/cur", "Maildir/new", "Maildir/tmp"}) {
      fs::create_directories(root_ / sub);
    }
  }

  void WriteSettings(const StoredSettings& s) {
    WriteSettingsFile(SettingsFile(), s,
                      {"\"Store\"=" + RegText("maildir:" + (root_ / "Maildir").string())});
  }

  // Delivers a message; `flags` empty and `fresh` puts it into new/.
  std::string Deliver(const std::string& bytes, const std::string& flags = "", bool fresh = true) {
    const std::string base =
        std::to_string(1700000000 + serial_) + ".M" + std::to_string(serial_) + "P1.test";
    ++serial_;
    const fs::path file =
        fresh ? root_ / "Maildir/new" / base : root_ / "Maildir/cur" / (base + ":2," + flags);
    std::ofstream(file, std::ios::binary) << bytes;
    return base;
  }

  ProgramResult Run() { return RunHeadless(root_); }

  fs::path SettingsFile() const { return root_ / "config/Vantrel/Quillmar.reg"; }
  fs::path Out() const { return root_ / "out"; }

  std::set<std::string> Saved() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(Out())) names.insert(e.path().filename().string());
    return names;
  }

  // The unique parts of the messages now marked seen.
  std::set<std::string> Seen() const { return SeenIn(root_ / "Maildir"); }

  TempDir temp_;
  fs::path root_ = temp_.path();
  int serial_ = 0;
};

TEST_F(ScanEndToEnd, EmptyInboxEndsQuietly) {
  WriteSettings({Out().string(), "", 0, {0, 0, 1}});
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "quillmar: files saved: 0\n");  // the summary alone
  EXPECT_TRUE(Saved().empty());
}

class EndToEndSelection : public ScanEndToEnd,
                          public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(EndToEndSelection, SavesTheFilesOfTheSelectedMessages) {
  for (const Delivery& d : SelectionInbox()) Deliver(d.bytes, d.seen ? "S" : "", !d.seen);
  const SelectionCase& c = GetParam();
  WriteSettings({Out().string(), c.keyword, c.item, c.opt});
  const std::string settings_before = ReadFile(SettingsFile());

  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Saved(), c.saved);
  // With no display the run ends after the scan and never saves its settings.
  EXPECT_EQ(ReadFile(SettingsFile()), settings_before);
  EXPECT_TRUE(fs::is_empty(root_ / "tmp")) << "temporary files left behind";
}

INSTANTIATE_TEST_SUITE_P(Scan, EndToEndSelection, ::testing::ValuesIn(SelectionCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(ScanEndToEnd, SecondUnreadOnlyScanCollectsNothingNew) {
  const std::string a = Deliver(Message("one", "a@example.com", "one.txt"));
  const std::string b = Deliver(Message("two", "b@example.com", "two.txt"), "F", false);
  const std::string c = Deliver(Message("three", "c@example.com", ""));
  WriteSettings({Out().string(), "", 0, {0, 1, 1}});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(Saved(), (std::set<std::string>{"one.txt", "two.txt"}));
  // Messages with attachments are marked read; other flags are kept.
  EXPECT_EQ(Seen(), (std::set<std::string>{a, b}));
  EXPECT_TRUE(fs::exists(root_ / "Maildir/cur" / (b + ":2,FS")));

  fs::remove(Out() / "one.txt");
  fs::remove(Out() / "two.txt");
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_TRUE(Saved().empty());
  (void)c;
}

TEST_F(ScanEndToEnd, SameNameNeverOverwrites) {
  Deliver(Message("first", "a@example.com", "scan.pdf"));
  Deliver(Message("second", "a@example.com", "scan.pdf"));
  std::ofstream(Out() / "scan.pdf") << "the user's own file";
  WriteSettings({Out().string(), "", 0, {0, 0, 1}});
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(ReadFile(Out() / "scan.pdf"), "the user's own file");
  // The two attachments have the same content: one copy beside the user's file.
  EXPECT_EQ(Saved(), (std::set<std::string>{"scan.pdf", "scan (2).pdf"}));
  // The line break before a boundary belongs to the boundary, not to the file.
  EXPECT_EQ(ReadFile(Out() / "scan (2).pdf"), "content of scan.pdf");
}

// A folder in cur/ made every scan that read headers fail with "Is a
// directory", run after run, until a person found it.
TEST_F(ScanEndToEnd, StrayFolderInTheMaildirIsNoMessage) {
  const std::string a = Deliver(Message("one", "a@example.com", "one.txt"));
  fs::create_directories(root_ / "Maildir/cur/1700000099.folder.host:2,");
  fs::create_directories(root_ / "Maildir/new/1700000098.folder.host/inside");
  const std::string b = Deliver(Message("two", "b@example.com", "two.txt"));
  WriteSettings({Out().string(), "", 0, {0, 1, 1}});
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Saved(), (std::set<std::string>{"one.txt", "two.txt"}));
  EXPECT_EQ(Seen(), (std::set<std::string>{a, b}));
}

// One message that cannot be read stopped the whole scan; now it is skipped,
// left unread, and reported in one line with its own exit code.
TEST_F(ScanEndToEnd, UnreadableMessageIsSkippedReportedAndCollectedOnceReadable) {
  const std::string a = Deliver(Message("one", "a@example.com", "one.txt"));
  const std::string bad = Deliver(Message("bad", "b@example.com", "bad.txt"));
  const std::string c = Deliver(Message("three", "c@example.com", "three.txt"));
  const fs::path bad_file = root_ / "Maildir/new" / bad;
  fs::permissions(bad_file, fs::perms::none);
  WriteSettings({Out().string(), "", 0, {0, 1, 1}});

  // Root reads every file whatever its mode: the run gets no such power.
  const ProgramResult r =
      ::geteuid() == 0
          ? RunProgram("/usr/bin/setpriv",
                       {"--bounding-set", "-dac_override,-dac_read_search", QM_BINARY, "-a"},
                       HeadlessEnvironment(root_))
          : Run();
  EXPECT_EQ(r.exit_code, 7) << r.err;
  EXPECT_EQ(r.err, "quillmar: error 32017: 1 message could not be read: " + bad_file.string() +
                       ": Permission denied\n");
  EXPECT_EQ(Saved(), (std::set<std::string>{"one.txt", "three.txt"}));
  EXPECT_EQ(Seen(), (std::set<std::string>{a, c}));
  EXPECT_TRUE(fs::exists(bad_file)) << "the unreadable message was touched";

  fs::permissions(bad_file, fs::perms::owner_read | fs::perms::owner_write);
  const ProgramResult again = Run();
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(Saved(), (std::set<std::string>{"one.txt", "bad.txt", "three.txt"}));
  EXPECT_EQ(Seen(), (std::set<std::string>{a, bad, c}));
}

// A Maildir from a file system that refuses ':' ("!2," before the flags):
// its seen flag was not read, and marking read appended a second info.
TEST_F(ScanEndToEnd, MaildirWithBangSeparatorIsReadAndMarkedInItsOwnForm) {
  const std::vector<std::pair<std::string, std::string>> messages = {
      {"1700000001.M1P1.host!2,", Message("one", "a@example.com", "one.txt")},
      {"1700000002.M2P1.host!2,F", Message("two", "b@example.com", "two.txt")},
      {"1700000003.M3P1.host!2,S", Message("seen", "c@example.com", "seen.txt")},
  };
  for (const auto& [name, bytes] : messages) {
    std::ofstream(root_ / "Maildir/cur" / name, std::ios::binary) << bytes;
  }
  WriteSettings({Out().string(), "", 0, {0, 1, 1}});
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Saved(), (std::set<std::string>{"one.txt", "two.txt"}));
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(root_ / "Maildir/cur")) {
    names.insert(e.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"1700000001.M1P1.host!2,S", "1700000002.M2P1.host!2,FS",
                                          "1700000003.M3P1.host!2,S"}));
}

// Attachments went through a private folder under TMPDIR first: where that
// is a small or RAM file system, a file larger than it could not be saved.
TEST_F(ScanEndToEnd, TemporaryFolderOnASmallFileSystemTakesNoAttachment) {
  const TmpfsMount small_tmp(root_ / "tmp", 1 << 20);
  if (!small_tmp.mounted()) QM_SKIP_OUTSIDE_CI("cannot mount a tmpfs: " + small_tmp.error());
  Deliver(BigMessage("big.bin", 4 << 20));
  WriteSettings({Out().string(), "", 0, {0, 0, 1}});
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Saved(), (std::set<std::string>{"big.bin"}));
  EXPECT_EQ(fs::file_size(Out() / "big.bin"), BigAttachmentSize(4 << 20));
  EXPECT_TRUE(fs::is_empty(root_ / "tmp"));
}

struct FailureCase {
  const char* name;
  std::string destination;  // "" empty, or relative to the test folder
  bool configure_store;
  int exit_code;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class EndToEndFailure : public ScanEndToEnd, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EndToEndFailure, PrintsOneLineAndTouchesNothing) {
  const std::string id = Deliver(Message("one", "a@example.com", "one.txt"));
  const FailureCase& c = GetParam();
  WriteSettings({c.destination.empty() ? "" : (root_ / c.destination).string(), "", 0, {0, 0, 1}});
  if (!c.configure_store) {
    fs::remove_all(root_ / "Maildir");
    std::string reg = ReadFile(SettingsFile());
    reg = reg.substr(0, reg.find("[HKEY_CURRENT_USER"));
    std::ofstream(SettingsFile(), std::ios::binary) << reg;
  }
  const std::string settings_before = ReadFile(SettingsFile());
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.rfind("quillmar: ", 0), 0u) << r.err;
  EXPECT_TRUE(Saved().empty());
  if (c.configure_store) {
    EXPECT_TRUE(fs::exists(root_ / "Maildir/new" / id)) << "the message was touched";
  }
  EXPECT_EQ(ReadFile(SettingsFile()), settings_before);
}

INSTANTIATE_TEST_SUITE_P(Scan, EndToEndFailure,
                         ::testing::Values(FailureCase{"EmptyPath", "", true, 3},
                                           FailureCase{"MissingFolder", "gone", true, 3},
                                           FailureCase{"NoMailbox", "out", false, 4}),
                         [](const auto& info) { return info.param.name; });

// Mail from real mailers that once lost or changed its files: each is
// delivered alone and must give its r.pdf, exactly, and the attached message
// it carries as a .eml that starts as the message did.
struct RealMailCase {
  const char* name;
  const char* file;  // in the MIME walk's regression mails
  std::string eml_start;
};

void PrintTo(const RealMailCase& c, std::ostream* os) { *os << c.name; }

class RealMail : public ScanEndToEnd, public ::testing::WithParamInterface<RealMailCase> {};

TEST_P(RealMail, SavesEveryFileExactly) {
  const RealMailCase& c = GetParam();
  const std::string id = Deliver(ReadFile(fs::path(QM_MIME_TEST_DATA) / c.file));
  WriteSettings({Out().string(), "s", 0, {0, 1, 1}});  // each has the subject "s"
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::set<std::string> expected = {"r.pdf"};
  if (!c.eml_start.empty()) expected.insert("forwarded scan.eml");
  ASSERT_EQ(Saved(), expected);
  EXPECT_EQ(ReadFile(Out() / "r.pdf"), "%PDF-1.4 scanned");
  if (!c.eml_start.empty()) {
    EXPECT_EQ(ReadFile(Out() / "forwarded scan.eml").rfind(c.eml_start, 0), 0u);
  }
  EXPECT_EQ(Seen(), std::set<std::string>{id});
}

INSTANTIATE_TEST_SUITE_P(
    Scan, RealMail,
    ::testing::Values(
        RealMailCase{"MboxFromLineFirst", "mbox-from-line-first.eml", ""},
        RealMailCase{"CrlfWithoutFinalLineBreak", "crlf-7bit-without-final-line-break.eml", ""},
        RealMailCase{"AttachedMessageStartingWithContentFields",
                     "attached-message-content-fields-first.eml",
                     "Content-Type: multipart/mixed; boundary=\"IN\"\nMIME-Version: 1.0\n"},
        RealMailCase{"Base64EncodedAttachedMessage", "base64-encoded-attached-message.eml",
                     "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"IN\"\n"}),
    [](const auto& info) { return info.param.name; });

// A scheduled run that comes round while the last one still runs (here held
// in its password command) ends at once with exit code 8 and one line, and
// touches nothing. The lock goes with the process that held it: once that is
// killed, and although the command it started lives on, the next run scans.
TEST_F(ScanEndToEnd, SecondRunWhileOneScansEndsAtOnceAndTheLockDiesWithItsHolder) {
  const fs::path started = root_ / "started";
  WriteSettingsFile(
      SettingsFile(), {Out().string(), "", 0, {0, 0, 1}},
      {"\"Store\"=" + RegText("imaps://tester@127.0.0.1:1/INBOX"),
       "\"PasswordCommand\"=" + RegText("touch '" + started.string() + "'; sleep 20; echo pw")});
  const std::unique_ptr<RunningProgram> first = StartHeadless(root_);
  WaitForChange(
      root_, [&] { return fs::exists(started); }, std::chrono::seconds(20));
  ASSERT_TRUE(fs::exists(started)) << "the first run never asked for its password";

  const std::set<std::string> before = Saved();  // the first run's work folder
  const ProgramResult second = Run();
  EXPECT_EQ(second.exit_code, 8) << second.err;
  EXPECT_EQ(second.err.rfind("quillmar: error 55: another scan", 0), 0u) << second.err;
  EXPECT_EQ(std::count(second.err.begin(), second.err.end(), '\n'), 1) << second.err;
  EXPECT_EQ(Saved(), before);

  EXPECT_TRUE(first->KillAfter(std::chrono::microseconds(0)).killed);
  Deliver(Message("after", "a@example.com", "after.txt"));
  WriteSettings({Out().string(), "", 0, {0, 0, 1}});
  const ProgramResult third = Run();
  EXPECT_EQ(third.exit_code, 0) << third.err;
  EXPECT_EQ(Saved(), std::set<std::string>{"after.txt"});
}

}  // namespace
}  // namespace qm
