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

#include "base/Failure.h"
#include "mail/MMes.h"
#include "mail/MSession.h"
#include "save/DestinationFile.h"
#include "save/DestinationFolder.h"
#include "settings/Settings.h"
#include "tests/mail/FakeStore.h"
#include "tests/support/FailureKindOf.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::FakeMailbox;
using testing::FakeMessage;
using testing::FakeStore;
using testing::KindOf;
using testing::ListFolder;
using testing::Listing;
using testing::MessageWithAttachment;
using testing::TempDir;

// ---- ReverseText ------------------------------------------------------------

struct ReverseCase {
  std::string text;
  std::string reversed;
};

void PrintTo(const ReverseCase& c, std::ostream* os) { *os << "\"" << c.text << "\""; }

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
                                           ReverseCase{"é\xc3", "\xc3é"},
                                           // overlong and beyond U+10FFFF: no characters
                                           ReverseCase{"\xc0\x80", "\x80\xc0"},
                                           ReverseCase{"\xf5\x80\x80\x80", "\x80\x80\x80\xf5"}));

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

void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.name << " " << c.number; }

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
    MSession session(
        [box = box_](const SignOnRequest&) { return std::make_unique<FakeStore>(box); });
    session.SignOn();
    MMes list(session);
    list.SetSessionHandle(session.SessionHandle());
    list.Fetch();
    DestinationFolder destination(Settings.Path, [&list] { list.WaitForFiles(); });
    list.WriteFilesInto(destination.work_folder().fd(), destination.work_folder_path());
    std::vector<std::int64_t> counts;
    for (std::size_t i = 0; i < messages.size(); ++i) {
      list.SetCurrentMessage(static_cast<std::int64_t>(i));
      counts.push_back(SaveAttachments(list, destination));
    }
    destination.Commit();
    for (const auto& entry : fs::recursive_directory_iterator(destination.work_folder_path())) {
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
