// Outlook's inbox through Simple MAPI, as the scan reads it: MAPI32.DLL
// forwards to the stand-in provider registered as the default mail client,
// which serves a mailbox folder each test writes. Under Wine with the ANSI
// code page 932, as on Japanese Windows.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "mail/MMes.h"
#include "mail/MSession.h"
#include "mail/RunScan.h"
#include "mail/ScanHost.h"
#include "mapi/MapiAttachmentFiles.h"
#include "mapi/OpenMapiStore.h"
#include "settings/Settings.h"
#include "tests/mail/QuietScanHost.h"
#include "tests/mapi/FakeMapiMailbox.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::FakeMapiMailbox;
using testing::PathOfUtf8;
using testing::TempDir;
using File = FakeMapiMailbox::File;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

using QuietHost = testing::QuietScanHost;

class MapiScan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FakeMapiMailbox::Register(); }

  void SetUp() override {
    Settings = SettingsRecord{};
    Settings.Path = Utf8(destination_.path());
    Settings.Opt = {1, 0, 0};  // every message, read or not
  }
  void TearDown() override { Settings = SettingsRecord{}; }

  // One scan as a click on GET runs it (or, without `may_prompt`, as a run
  // at start does).
  void Scan(bool may_prompt = true) {
    session_.SetPromptAllowed(may_prompt);
    QuietHost host;
    RunScan(host, session_, messages_);
  }

  // The failure a scan ends with, if any.
  std::optional<Failure> ScanFailure(bool may_prompt = true) {
    try {
      Scan(may_prompt);
    } catch (const Failure& failure) {
      return failure;
    }
    return std::nullopt;
  }

  // Every file in the destination, by its path there (UTF-8, '/').
  std::map<std::string, std::string> Saved() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(destination_.path())) {
      if (!entry.is_regular_file()) continue;
      std::string name = Utf8(fs::relative(entry.path(), destination_.path()));
      for (char& c : name) c = c == '\\' ? '/' : c;
      files[name] = testing::ReadFile(entry.path());
    }
    return files;
  }

  std::vector<std::string> CallsStartingWith(const std::string& start) const {
    std::vector<std::string> found;
    for (const std::string& line : box_.Calls()) {
      if (line.rfind(start, 0) == 0) found.push_back(line);
    }
    return found;
  }

  FakeMapiMailbox box_;
  TempDir destination_;
  TempDir own_folder_;  // where the record of temporary files is kept
  std::optional<std::string> profile_;
  MSession session_{[this](const SignOnRequest& request) {
    return OpenMapiStore({profile_, own_folder_.path() / "record.txt"}, request);
  }};
  MMes messages_{session_};
};

// What lands, by what the mail program holds: names in code page 932, names
// outside it (only the temporary file's own name has them), several files,
// an attached message (a file like any other), and a message without any.
TEST_F(MapiScan, EveryAttachmentLandsUnderItsOwnNameAndTheMessageIsMarkedRead) {
  struct Case {
    std::string id;
    std::vector<File> files;
  };
  const Case cases[] = {
      {"0001", {{"見積書.pdf", "pdf bytes"}}},
      {"0002", {{"𠮷野家.pdf", "outside 932"}, {"①②.txt", "NEC row"}, {"📄report.pdf", "emoji"}}},
      {"0003", {{"転送されたメール.eml", "Subject: inner\r\n\r\nbody\r\n"}}},
      {"0004", {}},
      {"0005", {{"ﾊﾝｶｸ ｶﾅ.xlsx", "half-width"}, {"a.txt", ""}}},
  };
  std::map<std::string, std::string> expected;
  for (const Case& c : cases) {
    box_.AddMessage(c.id, "請求書 " + c.id, "山田 太郎", "yamada@example.jp", true, c.files);
    for (const File& file : c.files) expected[file.name] = file.bytes;
  }
  Scan();
  EXPECT_EQ(Saved(), expected);
  // Marked read: the messages with files; one without any is left as it was.
  for (const Case& c : cases) EXPECT_EQ(box_.IsUnread(c.id), c.files.empty()) << c.id;
  EXPECT_EQ(box_.TempFiles(), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(own_folder_.path() / "record.txt"));
}

// The keyword test sees what Outlook shows: subject, sender name, and the
// Internet address without Outlook's "SMTP:" in front.
TEST_F(MapiScan, KeywordMatchesTheDecodedFieldsAndUnreadOnlySkipsReadMail) {
  struct Case {
    const char* keyword;
    std::int16_t item;
    bool unread_only;
    std::vector<std::string> saved;
  };
  const Case cases[] = {
      {"請求", 0, false, {"a.txt", "c.txt"}},
      {"ｾｲｷｭｳ", 0, false, {}},  // the width differs, the letters too: no match
      {"佐藤", 1, false, {"b.txt"}},
      {"SALES@", 2, false, {"b.txt"}},
      {"smtp:", 2, false, {}},
      {"", 0, true, {"a.txt", "b.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyword);
    FakeMapiMailbox box;
    box.AddMessage("1", "請求書です", "山田", "yamada@example.jp", true, {{"a.txt", "a"}});
    box.AddMessage("2", "ご案内", "佐藤 花子", "sales@example.jp", true, {{"b.txt", "b"}});
    box.AddMessage("3", "請求書(再送)", "山田", "yamada@example.jp", false, {{"c.txt", "c"}});
    TempDir destination;
    Settings.Path = Utf8(destination.path());
    Settings.Keyword = c.keyword;
    Settings.Item = c.item;
    Settings.Opt = {0, c.unread_only ? 1 : 0, 0};
    Scan();
    std::vector<std::string> saved;
    for (const auto& entry : fs::directory_iterator(destination.path())) {
      saved.push_back(Utf8(entry.path().filename()));
    }
    std::sort(saved.begin(), saved.end());
    EXPECT_EQ(saved, c.saved);
  }
}

// Sign-on: Outlook's own window only for someone who clicked; new mail
// fetched first from the second sign-on on; the inbox listed with the
// message type "" (every message).
TEST_F(MapiScan, SignOnFlagsFollowTheSessionAndTheListingAsksForEveryMessage) {
  box_.AddMessage("1", "s", "n", "a@x", true, {});
  Scan(true);
  Scan(false);
  EXPECT_EQ(CallsStartingWith("MAPILogon"),
            (std::vector<std::string>{"MAPILogon flags=0x1 profile=",        // MAPI_LOGON_UI
                                      "MAPILogon flags=0x1000 profile="}));  // MAPI_FORCE_DOWNLOAD
  for (const std::string& call : CallsStartingWith("MAPIFindNext")) {
    EXPECT_EQ(call.rfind("MAPIFindNext type= ", 0), 0u) << call;
  }
  EXPECT_EQ(CallsStartingWith("MAPILogoff").size(), 2u);
  // Every buffer the mail program gave was handed back.
  EXPECT_EQ(CallsStartingWith("MAPIFreeBuffer").size(), CallsStartingWith("MAPIReadMail").size());
}

// What the mail program answers at sign-on, and what the user is told.
TEST_F(MapiScan, RefusedSignOnsFailWithTheirOwnCause) {
  struct Case {
    const char* behaviour;
    const char* value;
    bool may_prompt;
    std::optional<std::string> profile;
    std::optional<Cause> cause;  // none: the scan succeeds
  };
  const Case cases[] = {
      {"logon", "3", true, std::nullopt, Cause::kMailProgramRefused},
      {"logon", "3", false, std::nullopt, Cause::kMailProgramNeedsPrompt},
      {"logon", "1", true, std::nullopt, Cause::kCancelled},
      {"logon", "8", true, std::nullopt, Cause::kMailProgramBusy},
      {"logon", "2", true, std::nullopt, Cause::kNoMailProgram},
      // Outlook would ask: a click may answer, a run at start may not.
      {"logon-needs-ui", "1", true, std::nullopt, std::nullopt},
      {"logon-needs-ui", "1", false, std::nullopt, Cause::kMailProgramNeedsPrompt},
      {"profile", "仕事用", true, std::string("仕事用"), std::nullopt},
      {"profile", "仕事用", true, std::string("私用"), Cause::kMailProgramRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.behaviour) + "=" + c.value);
    FakeMapiMailbox box;
    box.AddMessage("1", "s", "n", "a@x", true, {{"a.txt", "a"}});
    box.SetBehaviour(c.behaviour, c.value);
    profile_ = c.profile;
    const std::optional<Failure> failure = ScanFailure(c.may_prompt);
    EXPECT_EQ(failure.has_value(), c.cause.has_value()) << (failure ? failure->what() : "");
    if (failure && c.cause) {
      EXPECT_EQ(failure->kind(), FailureKind::SignOn);
      EXPECT_EQ(failure->cause(), *c.cause) << failure->what();
    }
    EXPECT_EQ(box.IsUnread("1"), c.cause.has_value());
  }
}

// One message that cannot be read stays unread and is reported once at the
// end; one that vanished is passed by; the others are saved and marked.
TEST_F(MapiScan, AMessageThatFailsStaysUnreadAndTheOthersAreSaved) {
  box_.AddMessage("1", "s", "n", "a@x", true, {{"one.txt", "1"}});
  box_.AddMessage("2", "s", "n", "a@x", true, {{"two.txt", "2"}});
  box_.AddMessage("3", "s", "n", "a@x", true, {{"three.txt", "3"}});
  box_.AddMessage("4", "s", "n", "a@x", true, {{"four.txt", "4"}});
  box_.SetBehaviour("unwritable", "2");
  box_.SetBehaviour("vanish", "3");
  const std::optional<Failure> failure = ScanFailure();
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->kind(), FailureKind::Unreadable) << failure->what();
  EXPECT_EQ(Saved(), (std::map<std::string, std::string>{{"one.txt", "1"}, {"four.txt", "4"}}));
  EXPECT_FALSE(box_.IsUnread("1"));
  EXPECT_TRUE(box_.IsUnread("2"));
  EXPECT_FALSE(box_.IsUnread("4"));
  EXPECT_EQ(box_.TempFiles(), std::vector<std::string>{});
}

// A run killed between reading a message and marking it: the mail
// program's temporary files stay, nothing is marked; the next sign-on
// removes them from the record, and the next scan saves the message.
TEST_F(MapiScan, WhatAKilledRunLeftIsRemovedByTheNext) {
  box_.AddMessage("1", "s", "n", "a@x", true, {{"見積書.pdf", "p"}, {"b.txt", "b"}});
  const fs::path record = own_folder_.path() / "record.txt";
  {
    std::unique_ptr<MailStore> store = OpenMapiStore({std::nullopt, record}, {});
    ASSERT_EQ(store->List(), 1u);
    std::unique_ptr<MessageAttachments> files = store->AttachmentFiles(0);
    ASSERT_EQ(files->size(), 2u);
    // Killed: neither the files nor the session are let go.
    static_cast<void>(files.release());
    static_cast<void>(store.release());
  }
  EXPECT_EQ(box_.TempFiles().size(), 2u);
  EXPECT_TRUE(box_.IsUnread("1"));
  Scan();
  EXPECT_EQ(box_.TempFiles(), std::vector<std::string>{});
  EXPECT_EQ(Saved().size(), 2u);
  EXPECT_FALSE(box_.IsUnread("1"));
}

// The name an attachment gets: the mail program's (ANSI) name made safe,
// unless the temporary file's own name agrees with it and says more.
TEST(MapiAttachmentName, TheNameOnDiskWinsOnlyWhereItAgreesWithTheGivenOne) {
  ASSERT_EQ(GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8";
  TempDir folder;
  struct Case {
    const char* on_disk;  // UTF-8
    const char* given;    // as the mail program gives it, in code page 932
    const char* saved;    // UTF-8
  };
  const Case cases[] = {
      {"𠮷野家.pdf", "?\x96\xec\x89\xc6.pdf", "𠮷野家.pdf"},  // ?野家.pdf
      {"𠮷野.pdf", "??\x96\xec.pdf", "𠮷野.pdf"},             // ??野.pdf: one per unit
      {"①.txt", "\x87\x40.txt", "①.txt"},                     // in code page 932
      {"naïve.txt", "na?ve.txt", "naïve.txt"},
      {"~WRL0001.tmp", "\x8c\xa9\x90\xcf\x8f\x91.pdf", "見積書.pdf"},
      {"a.txt", "..\\..\\evil.txt", "evil.txt"},
      {"b.txt", "C:\\Windows\\system32\\x.dll", "x.dll"},
      {"c.txt", "CON", "_CON"},
      {"d.txt", "a<b>\"c\"|.txt", "a_b__c__.txt"},
      {"e.txt", "", "e.txt"},
      {"f.txt", "trailing. .", "trailing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.saved);
    const fs::path file = folder.path() / PathOfUtf8(c.on_disk);
    testing::WriteFile(file, "x");
    EXPECT_EQ(MapiAttachmentName(c.given, file), c.saved);
  }
  EXPECT_EQ(MapiAttachmentName(nullptr, folder.path() / "a.txt"), "a.txt");
}

}  // namespace
}  // namespace qm
