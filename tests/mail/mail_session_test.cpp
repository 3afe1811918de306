#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "mail/MMes.h"
#include "mail/MSession.h"
#include "maildir/MaildirStore.h"
#include "save/HeldFolder.h"
#include "tests/mail/MaildirFixture.h"
#include "tests/support/EndedProcess.h"
#include "tests/support/EnvOverride.h"
#include "tests/support/FileBytes.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::EnvOverride;
using testing::MaildirFixture;
using testing::PidOfEndedProcess;
using testing::ReadFile;

// A Maildir, a private temporary folder, and a session on the Maildir. Nothing
// of a session goes into the temporary folder: attachment files are written
// into a folder the scan gives (the destination's own), IMAP messages too.
class SessionTest : public ::testing::Test {
 protected:
  StoreOpener Opener() {
    return [this](const SignOnRequest&) { return std::make_unique<MaildirStore>(box_.maildir()); };
  }
  std::vector<fs::path> InTemporaryFolder() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(temp_.path())) found.push_back(entry.path());
    return found;
  }

  MaildirFixture box_;
  testing::TempDir temp_;
  EnvOverride tmpdir_{"TMPDIR", temp_.path().string()};
};

void ExpectFailure(const std::function<void()>& call, FailureKind kind, const char* text) {
  try {
    call();
    ADD_FAILURE() << "no failure, expected " << text;
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), kind) << failure.what();
    EXPECT_NE(std::string(failure.what()).find(text), std::string::npos) << failure.what();
  }
}

TEST_F(SessionTest, HandleIsNonZeroOnlyWhileSignedOn) {
  MSession session(Opener());
  EXPECT_EQ(session.SessionHandle(), 0);
  session.SignOn();
  const std::int32_t first = session.SessionHandle();
  EXPECT_NE(first, 0);
  ExpectFailure([&] { session.SignOn(); }, FailureKind::Internal, "already signed on");
  session.SignOff();
  EXPECT_EQ(session.SessionHandle(), 0);
  EXPECT_FALSE(session.SignedOn());
  ExpectFailure([&] { session.Store(); }, FailureKind::MailStore, "not signed on");
  session.SignOn();
  EXPECT_NE(session.SessionHandle(), 0);
  EXPECT_NE(session.SessionHandle(), first);
}

TEST_F(SessionTest, SignOnFailureOfTheStoreLeavesNothingBehind) {
  MSession session([](const SignOnRequest&) -> std::unique_ptr<MailStore> {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox, "no mailbox configured");
  });
  ExpectFailure([&] { session.SignOn(); }, FailureKind::SignOn, "no mailbox configured");
  EXPECT_FALSE(session.SignedOn());
  EXPECT_TRUE(InTemporaryFolder().empty());
}

TEST_F(SessionTest, ReadMarksAreAppliedOnlyAtSignOff) {
  enum class End { SignOff, Discard, Destroy, FailureDuringScan };
  struct Case {
    End end;
    bool marked;
  };
  const Case cases[] = {{End::SignOff, true},
                        {End::Discard, false},
                        {End::Destroy, false},
                        {End::FailureDuringScan, false}};
  for (const Case& c : cases) {
    const std::string marked = box_.Add(MaildirFixture::Message("a", "a@x"), "F");
    const std::string other = box_.Add(MaildirFixture::Message("b", "b@x"), "", true);
    try {
      MSession session(Opener());
      session.SignOn();
      MMes messages(session);
      messages.SetSessionHandle(session.SessionHandle());
      messages.Fetch();
      messages.SetCurrentMessage(messages.MessageCount() - 2);
      messages.MarkRead();
      EXPECT_EQ(box_.Flags(marked), "F") << "marked before sign-off";
      if (c.end == End::SignOff) session.SignOff();
      if (c.end == End::Discard) session.Discard();
      if (c.end == End::FailureDuringScan) throw std::runtime_error("scan failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(box_.Flags(marked), c.marked ? "FS" : "F") << static_cast<int>(c.end);
    EXPECT_FALSE(box_.InCur(other)) << static_cast<int>(c.end);
    EXPECT_TRUE(InTemporaryFolder().empty()) << static_cast<int>(c.end);
  }
}

class CommitFails : public MaildirStore {
 public:
  using MaildirStore::MaildirStore;
  void CommitReadMarks() override {
    throw Failure(FailureKind::MailStore, Cause::kMailServer, "commit failed");
  }
};

TEST_F(SessionTest, FailedCommitStillEndsTheSession) {
  MSession session(
      [this](const SignOnRequest&) { return std::make_unique<CommitFails>(box_.maildir()); });
  session.SignOn();
  ExpectFailure([&] { session.SignOff(); }, FailureKind::MailStore, "commit failed");
  EXPECT_FALSE(session.SignedOn());
  EXPECT_EQ(session.SessionHandle(), 0);
  EXPECT_TRUE(InTemporaryFolder().empty());
}

TEST_F(SessionTest, MessageListNeedsTheHandleOfTheSignedOnSession) {
  box_.Add(MaildirFixture::Message("a", "a@x"));
  MSession session(Opener());
  MMes messages(session);
  ExpectFailure([&] { messages.SetSessionHandle(0); }, FailureKind::MailStore, "not signed on");
  ExpectFailure([&] { messages.Fetch(); }, FailureKind::MailStore, "not signed on");
  session.SignOn();
  const std::int32_t handle = session.SessionHandle();
  for (std::int32_t wrong : {0, handle + 1, -handle}) {
    ExpectFailure([&] { messages.SetSessionHandle(wrong); }, FailureKind::MailStore,
                  "not signed on");
  }
  messages.SetSessionHandle(handle);
  messages.Fetch();
  EXPECT_EQ(messages.MessageCount(), 1);
  session.SignOff();
  ExpectFailure([&] { messages.SetCurrentMessage(0); }, FailureKind::MailStore, "not signed on");
  session.SignOn();  // a new session: the old handle is not good for it
  ExpectFailure([&] { messages.Fetch(); }, FailureKind::MailStore, "not signed on");
  ExpectFailure([&] { messages.SetSessionHandle(handle); }, FailureKind::MailStore,
                "not signed on");
}

TEST_F(SessionTest, MessageListRejectsBadIndexesAndUnknownFilters) {
  box_.Add(MaildirFixture::Message("a", "a@x"));
  box_.Add(MaildirFixture::Message("b", "b@x"));
  MSession session(Opener());
  session.SignOn();
  MMes messages(session);
  messages.SetSessionHandle(session.SessionHandle());
  messages.SetMessageTypeFilter("IPM.Note");  // a Maildir has no message types
  ExpectFailure([&] { messages.Fetch(); }, FailureKind::Internal, "IPM.Note");
  messages.SetMessageTypeFilter("");
  ExpectFailure([&] { messages.IsRead(); }, FailureKind::MailStore, "bad message index");
  messages.Fetch();
  ASSERT_EQ(messages.MessageCount(), 2);
  for (std::int64_t bad : {std::int64_t{-1}, std::int64_t{2}, std::int64_t{3}, INT64_MIN}) {
    ExpectFailure([&] { messages.SetCurrentMessage(bad); }, FailureKind::MailStore,
                  "bad message index");
  }
  ExpectFailure([&] { messages.SetAttachmentIndex(-1); }, FailureKind::MailStore,
                "bad attachment index");
  messages.SetCurrentMessage(1);
  EXPECT_EQ(messages.Subject(), "b");
}

TEST_F(SessionTest, SubjectAndSenderAreDecodedAndReadOncePerMessage) {
  struct Case {
    std::string subject, from;
    std::string want_subject, want_name, want_address;
  };
  const Case cases[] = {
      {"Invoice for May", "Shop <shop@example.com>", "Invoice for May", "Shop", "shop@example.com"},
      {"=?UTF-8?B?6KuL5rGC5pu4?=", "=?UTF-8?B?5bGx55Sw?= <yamada@example.jp>", "請求書", "山田",
       "yamada@example.jp"},
      {"", "plain@example.com", "", "plain@example.com", "plain@example.com"},
  };
  std::vector<std::string> keys;
  for (const Case& c : cases) keys.push_back(box_.Add(MaildirFixture::Message(c.subject, c.from)));
  MSession session(Opener());
  session.SignOn();
  MMes messages(session);
  messages.SetSessionHandle(session.SessionHandle());
  messages.Fetch();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    messages.SetCurrentMessage(static_cast<std::int64_t>(i));
    EXPECT_EQ(messages.Subject(), cases[i].want_subject) << i;
    fs::remove(box_.Find(keys[i]));  // the headers were read already
    EXPECT_EQ(messages.SenderName(), cases[i].want_name) << i;
    EXPECT_EQ(messages.SenderAddress(), cases[i].want_address) << i;
    EXPECT_FALSE(messages.IsRead());
  }
}

std::string Attachment(const std::string& name, const std::string& base64) {
  return "--b\nContent-Type: application/octet-stream; name=\"" + name +
         "\"\nContent-Disposition: attachment; filename=\"" + name +
         "\"\nContent-Transfer-Encoding: base64\n\n" + base64 + "\n";
}

std::string MessageWithAttachments(const std::vector<std::string>& parts) {
  std::string message =
      "From: a@x\nSubject: files\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=\"b\"\n\n"
      "--b\nContent-Type: text/plain\n\nsee attached\n";
  for (const std::string& part : parts) message += part;
  return message + "--b--\n";
}

TEST_F(SessionTest, AttachmentFilesAreExtractedOnceIntoDistinctFiles) {
  // "one" and "two" in base64, both named a.txt, then "three" as b.txt.
  box_.Add(MessageWithAttachments(
      {Attachment("a.txt", "b25l"), Attachment("a.txt", "dHdv"), Attachment("b.txt", "dGhyZWU=")}));
  box_.Add(MaildirFixture::Message("no files", "a@x"));
  const std::string gone = box_.Add(MessageWithAttachments({Attachment("c.txt", "b25l")}));
  MSession session(Opener());
  session.SignOn();
  MMes messages(session);
  const fs::path files = box_.root() / "files";  // outside the temporary folder
  fs::create_directory(files);
  const HeldFolder held = HeldFolder::Open(AT_FDCWD, files.string());
  messages.WriteFilesInto(held.fd(), files);
  messages.SetSessionHandle(session.SessionHandle());
  messages.Fetch();
  ASSERT_EQ(messages.MessageCount(), 3);

  // The current attachment's file where it lies; "" past the last one.
  const auto attachment_path = [&] {
    const WrittenFile file = messages.AttachmentFile();
    return file.name.empty() ? std::string() : (files / file.name).string();
  };
  messages.SetCurrentMessage(0);
  const std::vector<std::string> contents = {"one", "two", "three"};
  std::set<std::string> paths;
  for (std::int32_t i = 0; i < 3; ++i) {
    messages.SetAttachmentIndex(i);
    const std::string path = attachment_path();
    ASSERT_FALSE(path.empty()) << i;
    EXPECT_EQ(path.rfind(files.string() + "/", 0), 0u) << path;
    EXPECT_EQ(fs::path(path).filename(), i < 2 ? "a.txt" : "b.txt");
    messages.WaitForFiles();  // a file may still be written after its path is out
    EXPECT_EQ(ReadFile(path), contents[i]) << path;
    fs::remove(path);  // as the caller does after copying it
    EXPECT_EQ(attachment_path(), path) << "second read";
    EXPECT_FALSE(fs::exists(path)) << "extracted again: " << path;
    paths.insert(path);
  }
  EXPECT_EQ(paths.size(), 3u);
  messages.SetAttachmentIndex(3);
  EXPECT_EQ(attachment_path(), "");

  messages.SetCurrentMessage(1);
  EXPECT_EQ(attachment_path(), "");

  EXPECT_TRUE(InTemporaryFolder().empty());
  fs::remove(box_.Find(gone));
  messages.SetCurrentMessage(2);
  EXPECT_EQ(attachment_path(), "");

  messages.SetCurrentMessage(0);  // selecting again starts at attachment 0
  const std::string first = attachment_path();
  EXPECT_EQ(fs::path(first).filename(), "a.txt");
  messages.WaitForFiles();
  EXPECT_EQ(ReadFile(first), "one") << "a new selection extracts afresh";
}

}  // namespace
}  // namespace qm
