#include "mail/SaveAttachments.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame/Failure.h"
#include "frame/Settings.h"
#include "mail/DestinationFile.h"
#include "mail/MMes.h"
#include "mail/MSession.h"
#include "tests/mail/FakeStore.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::FakeMailbox;
using testing::FakeMessage;
using testing::FakeStore;
using testing::MessageWithAttachment;
using testing::ReadFile;
using testing::TempDir;
using Listing = std::map<std::string, std::string>;  // file name -> content

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

Listing ListFolder(const fs::path& folder) {
  Listing files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] =
        entry.is_directory() ? "<folder>" : ReadFile(entry.path());
  }
  return files;
}

FailureKind KindOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Failure& failure) {
    return failure.kind();
  }
  ADD_FAILURE() << "no failure";
  return FailureKind::Internal;
}

// ---- ReverseText ------------------------------------------------------------

struct ReverseCase {
  std::string text;
  std::string reversed;
};

class ReverseTextCases : public ::testing::TestWithParam<ReverseCase> {};

TEST_P(ReverseTextCases, ReversesWholeCharacters) {
  EXPECT_EQ(ReverseText(GetParam().text), GetParam().reversed);
}

INSTANTIATE_TEST_SUITE_P(Texts, ReverseTextCases,
                         ::testing::Values(ReverseCase{"abc", "cba"}, ReverseCase{"", ""},
                                           ReverseCase{"x", "x"}, ReverseCase{"日本語", "語本日"},
                                           ReverseCase{"ｱｲ/表.txt", "txt.表/ｲｱ"},
                                           ReverseCase{"a😀b", "b😀a"},
                                           ReverseCase{"a\xff\xe3\x81",
                                                       "\x81\xe3\xff"
                                                       "a"},
                                           ReverseCase{"é\xc3", "\xc3é"}));

TEST(ReverseText, LongTextIsReversedWhole) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += (i % 2 == 0) ? "あ" : "b";  // 40,000 characters
  const std::string reversed = ReverseText(text);
  ASSERT_EQ(reversed.size(), text.size());
  EXPECT_EQ(reversed.substr(0, 1), "b");
  EXPECT_EQ(reversed.substr(reversed.size() - 3), "あ");
  EXPECT_EQ(ReverseText(reversed), text);
}

// ---- NumberedName -------------------------------------------------------------

struct NumberCase {
  std::string name;
  int number;
  std::string numbered;
};

class NumberedNames : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberedNames, NumberGoesBeforeTheExtension) {
  EXPECT_EQ(NumberedName(GetParam().name, GetParam().number), GetParam().numbered);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NumberedNames,
    ::testing::Values(NumberCase{"a.pdf", 2, "a (2).pdf"}, NumberCase{"noext", 3, "noext (3)"},
                      NumberCase{"a.tar.gz", 2, "a.tar (2).gz"},
                      NumberCase{".bashrc", 2, ".bashrc (2)"},
                      NumberCase{"報告書.xlsx", 10000, "報告書 (10000).xlsx"}));

TEST(NumberedName, LongNameStaysWithinLimitAndWholeCharacters) {
  std::string name;
  for (int i = 0; i < 84; ++i) name += "あ";  // 252 bytes
  name += ".pdf";
  const std::string numbered = NumberedName(name, 12);
  EXPECT_LE(numbered.size(), 255u);
  EXPECT_EQ(numbered.substr(numbered.size() - 9), " (12).pdf");
  EXPECT_EQ((numbered.size() - 9) % 3, 0u);  // no character cut in half
}

// ---- SaveIntoFolder -------------------------------------------------------------

struct SaveCase {
  const char* label;
  Listing before;    // files in the folder beforehand
  std::string name;  // name to save under
  std::string content;
  std::string saved_as;
  Listing after;
};

void PrintTo(const SaveCase& c, std::ostream* out) { *out << c.label; }

class SaveIntoFolderCases : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveIntoFolderCases, NeverReplacesAFile) {
  const SaveCase& c = GetParam();
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  for (const auto& [name, content] : c.before) WriteFile(folder / name, content);
  WriteFile(root / "source", c.content);

  const fs::path saved = SaveIntoFolder(root / "source", folder.string(), c.name);
  EXPECT_EQ(saved, folder / c.saved_as);
  EXPECT_EQ(ListFolder(folder), c.after);
  EXPECT_EQ(ReadFile(root / "source"), c.content);
}

INSTANTIATE_TEST_SUITE_P(
    Collisions, SaveIntoFolderCases,
    ::testing::Values(SaveCase{"FreshName", {}, "a.pdf", "A", "a.pdf", {{"a.pdf", "A"}}},
                      SaveCase{"SameContentGivesNoDuplicate",
                               {{"a.pdf", "A"}},
                               "a.pdf",
                               "A",
                               "a.pdf",
                               {{"a.pdf", "A"}}},
                      SaveCase{"DifferentContentIsNumbered",
                               {{"a.pdf", "old"}},
                               "a.pdf",
                               "new",
                               "a (2).pdf",
                               {{"a.pdf", "old"}, {"a (2).pdf", "new"}}},
                      SaveCase{"NextFreeNumber",
                               {{"a.pdf", "1"}, {"a (2).pdf", "2"}},
                               "a.pdf",
                               "3",
                               "a (3).pdf",
                               {{"a.pdf", "1"}, {"a (2).pdf", "2"}, {"a (3).pdf", "3"}}},
                      SaveCase{"SameContentUnderANumberedName",
                               {{"a.pdf", "1"}, {"a (2).pdf", "2"}},
                               "a.pdf",
                               "2",
                               "a (2).pdf",
                               {{"a.pdf", "1"}, {"a (2).pdf", "2"}}},
                      SaveCase{"EmptyFile", {}, "empty", "", "empty", {{"empty", ""}}},
                      SaveCase{"ShorterContentIsDifferent",
                               {{"x", "abc"}},
                               "x",
                               "ab",
                               "x (2)",
                               {{"x", "abc"}, {"x (2)", "ab"}}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SaveIntoFolder, FolderOfTheSameNameIsNotReplaced) {
  TempDir root;
  fs::create_directories(root / "dest" / "a.pdf");
  WriteFile(root / "source", "A");
  EXPECT_EQ(SaveIntoFolder(root / "source", (root / "dest").string(), "a.pdf"),
            root / "dest" / "a (2).pdf");
  EXPECT_TRUE(fs::is_directory(root / "dest" / "a.pdf"));
}

struct RefusedCase {
  const char* label;
  std::string name;
  bool source_exists;
  std::string folder;  // relative to the test's root
  FailureKind kind;
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.label; }

class SaveIntoFolderRefusals : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SaveIntoFolderRefusals, FailsAndLeavesNoFileBehind) {
  const RefusedCase& c = GetParam();
  TempDir root;
  fs::create_directory(root / "dest");
  WriteFile(root / "plain", "I am a file");
  if (c.source_exists) WriteFile(root / "source", "content");
  const Listing before = ListFolder(root.path());

  EXPECT_EQ(KindOf([&] { SaveIntoFolder(root / "source", (root / c.folder).string(), c.name); }),
            c.kind);
  EXPECT_EQ(ListFolder(root.path()), before);
  EXPECT_TRUE(fs::is_empty(root / "dest"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveIntoFolderRefusals,
    ::testing::Values(
        RefusedCase{"SourceMissing", "a.pdf", false, "dest", FailureKind::FileWrite},
        RefusedCase{"FolderMissing", "a.pdf", true, "nowhere", FailureKind::Destination},
        RefusedCase{"FolderIsAFile", "a.pdf", true, "plain", FailureKind::Destination},
        RefusedCase{"FolderUnderAFile", "a.pdf", true, "plain/sub", FailureKind::Destination},
        RefusedCase{"EmptyName", "", true, "dest", FailureKind::FileWrite},
        RefusedCase{"Dot", ".", true, "dest", FailureKind::FileWrite},
        RefusedCase{"DotDot", "..", true, "dest", FailureKind::FileWrite},
        RefusedCase{"Separator", "sub/a.pdf", true, "dest", FailureKind::FileWrite},
        RefusedCase{"Absolute", "/tmp/a.pdf", true, "dest", FailureKind::FileWrite},
        RefusedCase{"Climbing", "../plain", true, "dest", FailureKind::FileWrite}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SaveIntoFolder, SourceThatCannotBeReadLeavesNoPartialFile) {
  TempDir root;
  fs::create_directory(root / "dest");
  fs::create_directory(root / "source-is-a-folder");
  EXPECT_EQ(KindOf([&] {
              SaveIntoFolder(root / "source-is-a-folder", (root / "dest").string(), "a.pdf");
            }),
            FailureKind::FileWrite);
  EXPECT_TRUE(fs::is_empty(root / "dest"));
}

TEST(SaveIntoFolder, SearchForAFreeNameIsBounded) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  WriteFile(folder / "a", "taken");
  for (int n = 2; n <= kMaxNameNumber; ++n) WriteFile(folder / NumberedName("a", n), "taken");
  WriteFile(root / "source", "new");
  EXPECT_EQ(KindOf([&] { SaveIntoFolder(root / "source", folder.string(), "a"); }),
            FailureKind::FileWrite);
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_EQ(ReadFile(entry.path()), "taken") << entry.path();
    ++files;
  }
  EXPECT_EQ(files, static_cast<std::size_t>(kMaxNameNumber));
}

// ---- SaveAttachments ------------------------------------------------------------

const std::string kTwoSameNames =
    "Subject: two\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"B\"\n\n"
    "--B\nContent-Type: text/plain\n\nbody\n"
    "--B\nContent-Type: text/plain; name=\"a.txt\"\n\nfirst\n"
    "--B\nContent-Type: text/plain; name=\"a.txt\"\n\nsecond\n--B--\n";

class SaveAttachmentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_settings_ = Settings;
    fs::create_directory(dest());
    Settings.Path = dest().string();
  }
  void TearDown() override { Settings = saved_settings_; }

  fs::path dest() const { return root_ / "dest"; }

  // Runs SaveAttachments on every message in turn; returns the counts.
  std::vector<std::int64_t> SaveAll(const std::vector<std::string>& messages) {
    for (const std::string& bytes : messages) box_->messages.push_back({"s", "f", false, bytes});
    MSession session([box = box_] { return std::make_unique<FakeStore>(box); });
    session.SignOn();
    MMes list(session);
    list.SetSessionHandle(session.SessionHandle());
    list.Fetch();
    std::vector<std::int64_t> counts;
    for (std::size_t i = 0; i < messages.size(); ++i) {
      list.SetCurrentMessage(static_cast<std::int64_t>(i));
      counts.push_back(SaveAttachments(list));
    }
    for (const auto& entry : fs::recursive_directory_iterator(session.ScratchPath())) {
      EXPECT_FALSE(entry.is_regular_file()) << "source left behind: " << entry.path();
    }
    session.SignOff();
    return counts;
  }

  std::vector<bool> ReadFlags() const {
    std::vector<bool> flags;
    for (const FakeMessage& m : box_->messages) flags.push_back(m.read);
    return flags;
  }

  TempDir root_;
  std::shared_ptr<FakeMailbox> box_ = std::make_shared<FakeMailbox>();
  SettingsRecord saved_settings_;
};

struct MailCase {
  const char* label;
  std::vector<std::string> messages;
  std::vector<std::int64_t> counts;
  Listing saved;
  std::vector<bool> read;
};

void PrintTo(const MailCase& c, std::ostream* out) { *out << c.label; }

class SaveAttachmentsCases : public SaveAttachmentsTest,
                             public ::testing::WithParamInterface<MailCase> {};

TEST_P(SaveAttachmentsCases, MovesFilesAndMarksOnlyMessagesWithFiles) {
  const MailCase& c = GetParam();
  EXPECT_EQ(SaveAll(c.messages), c.counts);
  EXPECT_EQ(ListFolder(dest()), c.saved);
  EXPECT_EQ(ReadFlags(), c.read);
}

INSTANTIATE_TEST_SUITE_P(
    Mails, SaveAttachmentsCases,
    ::testing::Values(
        MailCase{"OneAttachment",
                 {MessageWithAttachment("s", "report.doc", "aGVsbG8gd29ybGQ=")},
                 {1},
                 {{"report.doc", "hello world"}},
                 {true}},
        MailCase{"NoAttachmentTouchesNothing", {"Subject: s\n\nonly text\n"}, {0}, {}, {false}},
        MailCase{"TwoOfOneNameAreBothKept",
                 {kTwoSameNames},
                 {2},
                 {{"a.txt", "first"}, {"a (2).txt", "second"}},
                 {true}},
        MailCase{"SameFileInTwoMessagesIsSavedOnce",
                 {MessageWithAttachment("1", "x.bin", "UE5HREFUQQ=="),
                  MessageWithAttachment("2", "x.bin", "UE5HREFUQQ==")},
                 {1, 1},
                 {{"x.bin", "PNGDATA"}},
                 {true, true}},
        MailCase{"JapaneseName",
                 {MessageWithAttachment("s", "=?UTF-8?B?6KuL5rGC5pu4LnBkZg==?=",
                                        "JVBERi0xLjQgc2Nhbm5lZA==")},
                 {1},
                 {{"請求書.pdf", "%PDF-1.4 scanned"}},
                 {true}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SaveAttachmentsTest, EmptyDestinationIsRefusedBeforeAnything) {
  Settings.Path.clear();
  EXPECT_EQ(KindOf([&] { SaveAll({MessageWithAttachment("s", "a.pdf", "UE5HREFUQQ==")}); }),
            FailureKind::Destination);
  EXPECT_EQ(ReadFlags(), std::vector<bool>{false});
  EXPECT_TRUE(fs::is_empty(dest()));
}

}  // namespace
}  // namespace qm
