// The whole job through the real binary with no display, as cron runs it:
// a settings file and a Maildir written here, "-a" on the command line, and
// the destination folder, the Maildir flags, the output and the exit code
// checked afterwards.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/e2e/EndToEnd.h"
#include "tests/support/TempDir.h"

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
  std::set<std::string> Seen() const {
    std::set<std::string> seen;
    for (const auto& e : fs::directory_iterator(root_ / "Maildir/cur")) {
      const std::string name = e.path().filename().string();
      const auto info = name.find(":2,");
      if (info != std::string::npos && name.find('S', info) != std::string::npos) {
        seen.insert(name.substr(0, info));
      }
    }
    return seen;
  }

  TempDir temp_;
  fs::path root_ = temp_.path();
  int serial_ = 0;
};

TEST_F(ScanEndToEnd, EmptyInboxEndsQuietly) {
  WriteSettings({Out().string(), "", 0, {0, 0, 1}});
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
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

struct FailureCase {
  const char* name;
  std::string destination;  // "" empty, or relative to the test folder
  bool configure_store;
  int exit_code;
};

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

}  // namespace
}  // namespace qm
