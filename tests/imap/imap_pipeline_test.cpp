// The store fetches the messages the scan will open ahead of it, several
// commands under way at once, within its budget; the answers come back with
// whatever else the server has to say, and each goes to the fetch that asked.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "imap/ImapStore.h"
#include "store/UnreadableMessage.h"
#include "tests/imap/ImapScripts.h"
#include "tests/support/FileBytes.h"
#include "tests/support/HeldTempDir.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace testing::imap_scripts;
using testing::Client;
using testing::HeldTempDir;
using testing::ReadFd;
using testing::Server;
using testing::TempDir;

// A part that may be a file, and one that cannot.
const std::string kPdf =
    R"(("APPLICATION" "PDF" ("NAME" "a.pdf") NIL NIL "BASE64" 40 NIL ("ATTACHMENT" NIL) NIL NIL))";
const std::string kHtml =
    R"(("TEXT" "HTML" ("CHARSET" "utf-8") NIL NIL "7BIT" 9 1 NIL NIL NIL NIL))";

// Messages with UIDs 10, 11, 12, ... each of `size` bytes by the listing.
std::vector<testing::ScriptStep> ListMessages(int tag, const std::vector<std::string>& structures,
                                              std::uint64_t size = 100) {
  std::string answer;
  for (std::size_t i = 0; i < structures.size(); ++i) {
    answer += Listed(static_cast<int>(i) + 1, static_cast<int>(i) + 10, size, structures[i],
                     "m" + std::to_string(i));
  }
  return {Client("a" + std::to_string(tag) + " " + kHeaderFetch),
          Server(answer + Tagged(tag, "OK Fetch completed."))};
}

std::string FetchCommand(int tag, int uid) {
  return "a" + std::to_string(tag) + " UID FETCH " + std::to_string(uid) + " BODY.PEEK[]";
}

std::vector<std::size_t> All(std::size_t count) {
  std::vector<std::size_t> indexes(count);
  for (std::size_t i = 0; i < count; ++i) indexes[i] = i;
  return indexes;
}

// All planned fetches go out before the first answer is read; the answers
// arrive mixed with news of the mailbox, and each body reaches its message.
TEST(ImapPipeline, FetchesGoOutTogetherAndAnswersMixedWithOtherNewsReachTheirMessages) {
  HeldTempDir spool;
  auto script = MakeScript(
      {Pipelined({Select(1, 3), ListMessages(2, {kPdf, kPdf, kPdf})}),
       {Client(FetchCommand(3, 10)), Client(FetchCommand(4, 11)), Client(FetchCommand(5, 12)),
        Server("* 4 EXISTS\r\n" + Body(2, 11, "body 11") + "* 1 FETCH (FLAGS (\\Flagged))\r\n" +
               Body(1, 10, "body 10") + Tagged(3, "OK done") + Tagged(4, "OK done") +
               "* 4 EXPUNGE\r\n" + Body(3, 12, "body 12") + Tagged(5, "OK done"))},
       Logout(6)});
  {
    auto store = StoreOn(script);
    ASSERT_EQ(store->List(), 3u);
    store->WillOpen(All(3));
    for (int i = 0; i < 3; ++i) {
      const UniqueFd body = store->OpenMessage(i, spool.fd());
      ASSERT_TRUE(body.valid()) << i;
      EXPECT_EQ(ReadFd(body.get()), "body " + std::to_string(10 + i));
    }
    EXPECT_TRUE(fs::is_empty(spool.path()));
  }
  ExpectScriptPlayed(*script);
}

// Not more than the budget is under way or waiting: by the sizes the
// listing gave, two messages of 20 MB fill it; the third goes out once the
// first has been opened.
TEST(ImapPipeline, StaysWithinItsBudgetOfBytesAhead) {
  HeldTempDir spool;
  auto script =
      MakeScript({Pipelined({Select(1, 3), ListMessages(2, {kPdf, kPdf, kPdf}, 20 << 20)}),
                  {Client(FetchCommand(3, 10)), Client(FetchCommand(4, 11)),
                   Server(Body(1, 10, "a") + Tagged(3, "OK"))},
                  {Client(FetchCommand(5, 12)),
                   Server(Body(2, 11, "b") + Tagged(4, "OK") + Body(3, 12, "c") + Tagged(5, "OK"))},
                  Logout(6)});
  {
    auto store = StoreOn(script);
    ASSERT_EQ(store->List(), 3u);
    store->WillOpen(All(3));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(store->OpenMessage(i, spool.fd()).valid()) << i;
  }
  ExpectScriptPlayed(*script);
}

// One fetch of the pipeline answered NO: that message cannot be read, one
// expunged meanwhile is gone, and the others are as they should be.
TEST(ImapPipeline, ARefusedOrExpungedFetchInTheMiddleTouchesOnlyItsMessage) {
  HeldTempDir spool;
  auto script = MakeScript(
      {Pipelined({Select(1, 4), ListMessages(2, {kPdf, kPdf, kPdf, kPdf})}),
       {Client(FetchCommand(3, 10)), Client(FetchCommand(4, 11)), Client(FetchCommand(5, 12)),
        Client(FetchCommand(6, 13)),
        Server(Body(1, 10, "first") + Tagged(3, "OK") + Tagged(4, "NO [SERVERBUG] Internal error") +
               "* 3 EXPUNGE\r\n" +
               Tagged(5, "NO [EXPUNGEISSUED] Some of the requested messages no longer exist.") +
               Body(3, 13, "last") + Tagged(6, "OK"))},
       {Client("a7 UID STORE 10,13 +FLAGS.SILENT (\\Seen)"), Server(Tagged(7, "OK"))},
       Logout(8)});
  {
    auto store = StoreOn(script);
    ASSERT_EQ(store->List(), 4u);
    store->WillOpen(All(4));
    EXPECT_EQ(ReadFd(store->OpenMessage(0, spool.fd()).get()), "first");
    EXPECT_THROW(store->OpenMessage(1, spool.fd()), UnreadableMessage);
    EXPECT_FALSE(store->OpenMessage(2, spool.fd()).valid());
    EXPECT_EQ(ReadFd(store->OpenMessage(3, spool.fd()).get()), "last");
    store->QueueReadMark(0);
    store->QueueReadMark(3);
    store->CommitReadMarks();
    EXPECT_TRUE(fs::is_empty(spool.path()));
  }
  ExpectScriptPlayed(*script);
}

// The connection lost with fetches under way fails the scan, as any lost
// connection does; nothing of the message being streamed is left.
TEST(ImapPipeline, AConnectionLostWithFetchesUnderWayFails) {
  HeldTempDir spool;
  auto script = MakeScript(
      {Pipelined({Select(1, 3), ListMessages(2, {kPdf, kPdf, kPdf})}),
       {Client(FetchCommand(3, 10)), Client(FetchCommand(4, 11)), Client(FetchCommand(5, 12)),
        Server(Body(1, 10, "first") + Tagged(3, "OK") +
               "* 2 FETCH (UID 11 BODY[] {100}\r\npart")}});
  {
    auto store = StoreOn(script);
    ASSERT_EQ(store->List(), 3u);
    store->WillOpen(All(3));
    EXPECT_TRUE(store->OpenMessage(0, spool.fd()).valid());
    try {
      store->OpenMessage(1, spool.fd());
      ADD_FAILURE() << "a message half received was taken";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::MailStore);
      EXPECT_EQ(failure.cause(), Cause::kMailServer);
    }
    if (kSpoolNamesGoWhileOpen) {
      EXPECT_TRUE(fs::is_empty(spool.path()));
    }
  }
  EXPECT_TRUE(fs::is_empty(spool.path()));
  ExpectScriptPlayed(*script);  // and no LOGOUT on a broken stream
}

// A message whose structure shows no file is neither fetched nor opened;
// marks wait until the fetches still under way have been read.
TEST(ImapPipeline, MessagesThatCanHoldNoFileAreNotFetchedAndMarksWaitForTheRest) {
  HeldTempDir spool;
  auto script =
      MakeScript({Pipelined({Select(1, 3), ListMessages(2, {kHtml, kPdf, kPdf})}),
                  {Client(FetchCommand(3, 11)), Client(FetchCommand(4, 12)),
                   Server(Body(2, 11, "second") + Tagged(3, "OK"))},
                  // The scan opens only the second message; the third's answer is read
                  // before the marks are sent.
                  {Server(Body(3, 12, "third") + Tagged(4, "OK"))},
                  {Client("a5 UID STORE 11 +FLAGS.SILENT (\\Seen)"), Server(Tagged(5, "OK"))},
                  Logout(6)});
  {
    auto store = StoreOn(script);
    ASSERT_EQ(store->List(), 3u);
    EXPECT_TRUE(store->HoldsNoFile(0));
    EXPECT_FALSE(store->HoldsNoFile(1));
    store->WillOpen(All(3));
    EXPECT_EQ(ReadFd(store->OpenMessage(1, spool.fd()).get()), "second");
    store->QueueReadMark(1);
    store->CommitReadMarks();
  }
  ExpectScriptPlayed(*script);
}

}  // namespace
}  // namespace qm
