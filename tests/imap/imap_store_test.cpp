#include "imap/ImapStore.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "imap/ImapMailboxName.h"
#include "imap/ImapUidSet.h"
#include "imap/ListedHeaders.h"
#include "store/UnreadableMessage.h"
#include "tests/imap/ImapScripts.h"
#include "tests/imap/ScriptedTransport.h"
#include "tests/support/FileBytes.h"
#include "tests/support/HeldTempDir.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::Client;
using testing::HeldTempDir;
using testing::LiteralOf;
using testing::ReadFd;
using testing::Script;
using testing::ScriptedTransport;
using testing::ScriptStep;
using testing::Server;
using testing::TempDir;
using namespace testing::imap_scripts;

// Three raw ISO-2022-JP header blocks; the first subject is folded.
const std::string kFoldedSubject =
    "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\r\n =?ISO-2022-JP?B?GyRCQCQzJhsoQg==?=";
const std::string kBlock5 = "Subject: " + kFoldedSubject +
                            "\r\nFrom: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>"
                            "\r\n\r\n";
// Raw ISO-2022-JP bytes (escape sequences, no encoded words), as old mailers
// sent them.
const std::string kRawJapanese = "\x1b$B;3ED\x1b(B <sato@example.jp>";
const std::string kBlock9 =
    "from:" + kRawJapanese + "\r\nSUBJECT:  plain \r\nSubject: second\r\n\r\n";
const std::string kBlock12 = "\r\n";  // neither field

TEST(ImapStore, ListsHeadersAndFlagsInUidOrderWithPeek) {
  auto script = MakeScript(
      {
          Pipelined(
              {Select(1, 3),
               {Client(std::string("a2 ") + kHeaderFetch),
                // Answers out of order, with other clients' news in between:
                // a later word on message 9 (it is unread again) counts, and
                // flags of a message the listing did not return (UID 30)
                // make no entry.
                Server(FetchedHeaders(3, 12, "\\Seen \\Flagged", kBlock12) + "* 4 EXISTS\r\n" +
                       FetchedHeaders(1, 5, "", kBlock5) + "* 3 FETCH (FLAGS (\\Deleted))\r\n" +
                       FetchedHeaders(2, 9, "$Forwarded \\seen", kBlock9) + "* 4 EXPUNGE\r\n" +
                       "* 4 FETCH (UID 30 FLAGS (\\Seen))\r\n* 2 FETCH (UID 9 FLAGS "
                       "($Forwarded))\r\n" +
                       Tagged(2, "OK Fetch completed."))}}),
          Logout(3),
      },
      5);
  {
    auto store = StoreOn(script);
    ASSERT_EQ(store->List(), 3u);
    struct Expected {
      std::string subject;
      std::string from;
      bool read;
    };
    const std::vector<Expected> expected = {
        // Unfolded: the line break goes, the space stays.
        {"=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?= =?ISO-2022-JP?B?GyRCQCQzJhsoQg==?=",
         "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>", false},
        {"plain", kRawJapanese, false},
        {"", "", true},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(store->Headers(i).subject, expected[i].subject);
      EXPECT_EQ(store->Headers(i).from, expected[i].from);
      EXPECT_EQ(store->IsRead(i), expected[i].read);
    }
    EXPECT_THROW(store->Headers(3), Failure);
  }
  ExpectScriptPlayed(*script);
}

// A count of messages the server claims costs nothing: only the messages
// it lists are kept, and of each only the start of its subject and sender.
TEST(ImapStore, ListingKeepsWhatCameNotWhatWasClaimed) {
  const std::string long_subject = std::string(kListedFieldLimit, 's') + " invoice";
  const std::string long_from = "<" + std::string(2 * kListedFieldLimit, 'f') + "@example.jp>";
  for (const char* claimed : {"1000000", "4294967295"}) {
    SCOPED_TRACE(claimed);
    auto script = MakeScript({
        Pipelined(
            {{Client("a1 SELECT \"INBOX\""),
              Server(std::string("* ") + claimed + " EXISTS\r\n" + Tagged(1, "OK Selected"))},
             {Client(std::string("a2 ") + kHeaderFetch),
              Server(FetchedHeaders(1, 7, "", "Subject: short\r\nFrom: a@example.jp\r\n\r\n") +
                     FetchedHeaders(
                         2, 8, "",
                         "Subject: " + long_subject + "\r\nFrom: " + long_from + "\r\n\r\n") +
                     Tagged(2, "OK Fetch completed."))}}),
        Logout(3),
    });
    {
      auto store = StoreOn(script);
      ASSERT_EQ(store->List(), 2u);
      EXPECT_EQ(store->Headers(0).subject, "short");
      EXPECT_EQ(store->Headers(1).subject, std::string(kListedFieldLimit, 's'));
      EXPECT_EQ(store->Headers(1).from, long_from.substr(0, kListedFieldLimit));
    }
    ExpectScriptPlayed(*script);
  }
}

// What is kept of a long field is its start: cut where a character begins,
// and before an encoded word the cut would split.
TEST(ListedHeaders, KeepsTheStartOfALongFieldWhole) {
  const struct {
    const char* what;
    std::string value;
    std::string kept;  // of at most 16 bytes
  } cases[] = {
      {"short", "Invoice for May", "Invoice for May"},
      {"exactly the limit", "0123456789abcdef", "0123456789abcdef"},
      {"plain text", "0123456789abcdefXYZ", "0123456789abcdef"},
      {"UTF-8 across the limit", "請求書の件です", "請求書の件"},  // 3 bytes each
      {"trailing blanks", "0123456789abc   XYZ", "0123456789abc"},
      {"a split encoded word", "Re: =?UTF-8?B?5bGx55Sw?=", "Re:"},
      {"a word ending at the limit", "=?UTF-8?Q?ab?=  =?UTF-8?Q?c?=", "=?UTF-8?Q?ab?="},
      {"a cut inside the opening =?", "=?UTF-8?Q?ab?= =?UTF-8?Q?c?=", "=?UTF-8?Q?ab?="},
      {"joined words, the second split", "=?A?Q?a?==?UTF-8?Q?b?=", "=?A?Q?a?="},
      {"a split word right at the start", "=?ISO-2022-JP?B?GyRCJDQ=?=", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(KeptFieldValue(c.value, 16), c.kept);
  }
}

// An empty mailbox is selected by its encoded name; whatever the listing
// beside it answers, nothing is fetched from it.
TEST(ImapStore, SelectsTheMailboxByItsEncodedName) {
  auto script =
      MakeScript({Pipelined({Select(1, 0, "\"&U,BTFw-/a\\\"b&-\""),
                             {Client(std::string("a2 ") + kHeaderFetch),
                              Server(Tagged(2, "BAD Error in IMAP command: Invalid messageset"))}}),
                  Logout(3)});
  {
    auto store = StoreOn(script, "台北/a\"b&");
    EXPECT_EQ(store->List(), 0u);
  }
  ExpectScriptPlayed(*script);
}

TEST(ImapMailboxName, EncodesModifiedUtf7) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"INBOX", "INBOX"},
      {"&", "&-"},
      {"~peter/mail/台北/日本語", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
      {"受信箱", "&U9dP4Xux-"},
      {"a\xf0\x9f\x98\x80z", "a&2D3eAA-z"},  // outside the BMP: a surrogate pair
      {"tab\there", "tab&AAk-here"},
      {"", ""},
  };
  for (const auto& [name, encoded] : cases) EXPECT_EQ(EncodeMailboxName(name), encoded) << name;
  for (const std::string bad : {"\xff", "a\xc3", "\xed\xa0\x80"}) {
    EXPECT_THROW(EncodeMailboxName(bad), Failure);
  }
  EXPECT_EQ(QuoteImapString("a\"b\\c"), "\"a\\\"b\\\\c\"");
}

TEST(ImapUidSet, MergesRunsAndSplitsLongSets) {
  struct Case {
    std::set<std::uint32_t> uids;
    std::size_t max_ranges;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {{1, 2, 3, 5, 7, 8}, 250, {"1:3,5,7:8"}},
      {{1, 2, 3, 5, 7, 8}, 2, {"1:3,5", "7:8"}},
      {{1, 2, 3, 5, 7, 8}, 1, {"1:3", "5", "7:8"}},
      {{42}, 250, {"42"}},
      {{}, 250, {}},
      {{4294967294u, 4294967295u, 1}, 250, {"1,4294967294:4294967295"}},
  };
  for (const Case& c : cases) EXPECT_EQ(UidSets(c.uids, c.max_ranges), c.expected);
}

// Lists one message with UID 9 (message number 2) for the fetch tests.
std::vector<ScriptStep> ListOneMessage() {
  return {
      Client(std::string("a2 ") + kHeaderFetch),
      Server(FetchedHeaders(2, 9, "", "Subject: x\r\n\r\n") + Tagged(2, "OK Fetch completed."))};
}

TEST(ImapStore, StreamsTheWholeMessageIntoAnUnlinkedFile) {
  std::string big = "Subject: big\r\n\r\n";
  while (big.size() < 300 * 1000) big += std::string("line\0\r\n", 7) + std::to_string(big.size());
  struct Case {
    std::size_t piece;
    std::string sent;  // the BODY[] value as the server sends it
    std::string expected;
  };
  const std::vector<Case> cases = {
      {1000, LiteralOf(big), big},
      {65536, LiteralOf(big), big},
      {7, "\"Subject: q\\\"\"", "Subject: q\""},  // a quoted body is legal too
      {7, LiteralOf(""), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent.substr(0, 20));
    HeldTempDir scratch;
    auto script = MakeScript(
        {
            Pipelined({Select(1, 2), ListOneMessage()}),
            {Client("a3 UID FETCH 9 BODY.PEEK[]"),
             Server("* 2 FETCH (UID 9 BODY[] " + c.sent + ")\r\n* 2 FETCH (FLAGS ())\r\n" +
                    Tagged(3, "OK Fetch completed."))},
            Logout(4),
        },
        c.piece);
    {
      auto store = StoreOn(script);
      ASSERT_EQ(store->List(), 1u);
      const UniqueFd fd = store->OpenMessage(0, scratch.fd());
      ASSERT_TRUE(fd.valid());
      if (kSpoolNamesGoWhileOpen) {
        EXPECT_TRUE(fs::is_empty(scratch.path()));
      }
      EXPECT_TRUE(ReadFd(fd.get()) == c.expected);
    }
    EXPECT_TRUE(fs::is_empty(scratch.path()));  // nothing left behind
    ExpectScriptPlayed(*script);
  }
}

TEST(ImapStore, MessageExpungedBeforeItsFetchIsSkipped) {
  const std::vector<std::string> answers = {
      "* 2 EXPUNGE\r\n" + Tagged(3, "OK Fetch completed."),
      Tagged(3, "OK Fetch completed."),
      Tagged(3, "NO [EXPUNGEISSUED] Some of the requested messages no longer exist."),
      "* 2 FETCH (UID 9 BODY[] NIL)\r\n" + Tagged(3, "OK Fetch completed."),
  };
  for (const std::string& answer : answers) {
    SCOPED_TRACE(answer);
    HeldTempDir scratch;
    auto script = MakeScript({Pipelined({Select(1, 2), ListOneMessage()}),
                              {Client("a3 UID FETCH 9 BODY.PEEK[]"), Server(answer)},
                              Logout(4)});
    {
      auto store = StoreOn(script);
      ASSERT_EQ(store->List(), 1u);
      EXPECT_FALSE(store->OpenMessage(0, scratch.fd()).valid());
      EXPECT_TRUE(fs::is_empty(scratch.path()));
    }
    ExpectScriptPlayed(*script);  // the session went on to log out normally
  }
}

// A server refuses the body of a message it cannot read itself; the session
// goes on with the others, and the refused message's mark can be taken back.
TEST(ImapStore, RefusedBodyMakesOnlyThatMessageUnreadable) {
  const std::string two_messages = FetchedHeaders(2, 9, "", "Subject: x\r\n\r\n") +
                                   FetchedHeaders(3, 12, "", "Subject: y\r\n\r\n") +
                                   Tagged(2, "OK Fetch completed.");
  HeldTempDir scratch;
  auto script = MakeScript(
      {Pipelined({Select(1, 3), {Client(std::string("a2 ") + kHeaderFetch), Server(two_messages)}}),
       {Client("a3 UID FETCH 9 BODY.PEEK[]"), Server(Tagged(3, "NO [SERVERBUG] Internal error"))},
       {Client("a4 UID FETCH 12 BODY.PEEK[]"),
        Server("* 3 FETCH (UID 12 BODY[] {1}\r\ny)\r\n" + Tagged(4, "OK"))},
       {Client("a5 UID STORE 12 +FLAGS.SILENT (\\Seen)"), Server(Tagged(5, "OK"))},
       Logout(6)});
  {
    auto store = StoreOn(script);
    ASSERT_EQ(store->List(), 2u);
    store->QueueReadMark(0);
    try {
      store->OpenMessage(0, scratch.fd());
      ADD_FAILURE() << "the refused body was taken for a message";
    } catch (const UnreadableMessage& unreadable) {
      EXPECT_EQ(unreadable.where(), "message UID 9 in INBOX");
      EXPECT_STREQ(unreadable.what(),
                   "message UID 9 in INBOX: the mail server refused UID FETCH: Internal error");
    }
    store->DropReadMark(0);
    EXPECT_EQ(testing::ReadFd(store->OpenMessage(1, scratch.fd()).get()), "y");
    store->QueueReadMark(1);
    store->CommitReadMarks();
  }
  ExpectScriptPlayed(*script);
}

// Runs List, OpenMessage and CommitReadMarks (with one mark) until one fails.
std::string FirstFailure(ImapStore& store, int scratch) {
  try {
    if (store.List() == 0) return "empty";
    store.OpenMessage(0, scratch);
    store.QueueReadMark(0);
    store.CommitReadMarks();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::MailStore);
    EXPECT_EQ(failure.cause(), Cause::kMailServer);
    return failure.what();
  }
  return "no failure";
}

TEST(ImapStore, RefusalsAndLostConnectionsFailAtOnce) {
  const std::string fetch_body = "a3 UID FETCH 9 BODY.PEEK[]";
  struct Case {
    std::string name;
    std::vector<std::vector<ScriptStep>> steps;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"select refused",
       {Pipelined(
            {{Client("a1 SELECT \"INBOX\""), Server(Tagged(1, "NO Mailbox doesn't exist: INBOX"))},
             {Client(std::string("a2 ") + kHeaderFetch),
              Server(Tagged(2, "BAD No mailbox selected."))}}),
        Logout(3)},
       "the mail server refused SELECT: Mailbox doesn't exist: INBOX"},
      {"listing refused",
       {Pipelined({Select(1, 2),
                   {Client(std::string("a2 ") + kHeaderFetch), Server(Tagged(2, "BAD Nope"))}}),
        Logout(3)},
       "the mail server refused UID FETCH: Nope"},
      {"body fetch a protocol error",
       {Pipelined({Select(1, 2), ListOneMessage()}),
        {Client(fetch_body), Server(Tagged(3, "BAD Error in IMAP command"))},
        Logout(4)},
       "the mail server refused UID FETCH: Error in IMAP command"},
      {"marks refused",
       {Pipelined({Select(1, 2), ListOneMessage()}),
        {Client(fetch_body), Server("* 2 FETCH (UID 9 BODY[] {1}\r\nx)\r\n" + Tagged(3, "OK"))},
        {Client("a4 UID STORE 9 +FLAGS.SILENT (\\Seen)"), Server(Tagged(4, "NO [READ-ONLY] no"))},
        Logout(5)},
       "the mail server refused UID STORE: no"},
      {"bye in the middle of a fetch",
       {Pipelined({Select(1, 2), ListOneMessage()}),
        {Client(fetch_body), Server("* BYE Server shutting down.\r\n")}},
       "the mail server closed the connection: Server shutting down."},
      {"connection lost inside the literal",
       {Pipelined({Select(1, 2), ListOneMessage()}),
        {Client(fetch_body), Server("* 2 FETCH (UID 9 BODY[] {100}\r\nonly part")}},
       "connection lost"},
      // A body not asked for is dropped, never taken for the one that was;
      // then the server hangs up.
      {"body of another message",
       {Pipelined({Select(1, 2), ListOneMessage()}),
        {Client(fetch_body), Server("* 1 FETCH (UID 8 BODY[] {1}\r\nx)\r\n")}},
       "connection lost"},
      {"stray tag",
       {Pipelined(
           {Select(1, 2), {Client(std::string("a2 ") + kHeaderFetch), Server(Tagged(7, "OK"))}})},
       "the mail server sent a malformed response"},
      {"unexpected continuation",
       {Pipelined(
           {Select(1, 2), {Client(std::string("a2 ") + kHeaderFetch), Server("+ go ahead\r\n")}})},
       "the mail server sent a malformed response"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeldTempDir scratch;
    auto script = MakeScript(c.steps, 3);
    {
      auto store = StoreOn(script);
      EXPECT_EQ(FirstFailure(*store, scratch.fd()), c.expected);
      if (kSpoolNamesGoWhileOpen) {
        EXPECT_TRUE(fs::is_empty(scratch.path()));
      }
    }
    EXPECT_TRUE(fs::is_empty(scratch.path()));
    // A refused command leaves the session usable, so it logs out; after a
    // BYE or a broken stream nothing more is sent (the script has no LOGOUT).
    ExpectScriptPlayed(*script);
  }
}

// `count` messages with UIDs 2, 4, 6, ... listed in one fetch.
std::vector<ScriptStep> ListEvenUids(int count) {
  std::string answer;
  for (int i = 1; i <= count; ++i) answer += FetchedHeaders(i, 2 * i, "", "\r\n");
  return {Client(std::string("a2 ") + kHeaderFetch), Server(answer + Tagged(2, "OK done"))};
}

TEST(ImapStore, MarksReadOnlyAtTheCommitInShortCommands) {
  struct Case {
    std::vector<std::size_t> queued;       // indexes, UID = 2 * (index + 1)
    std::vector<std::string> store_lines;  // expected UID sets
  };
  std::vector<std::size_t> all(600);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  std::string first, second, third;
  for (int uid = 2; uid <= 1200; uid += 2) {
    std::string& set = uid <= 500 ? first : uid <= 1000 ? second : third;
    set += (set.empty() ? "" : ",") + std::to_string(uid);
  }
  const std::vector<Case> cases = {
      {{}, {}}, {{2, 0, 2}, {"2,6"}}, {all, {first, second, third}},  // 250 ranges per command
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.queued.size());
    std::vector<ScriptStep> stores;
    int tag = 3;
    for (const std::string& set : c.store_lines) {
      stores.push_back(
          Client("a" + std::to_string(tag) + " UID STORE " + set + " +FLAGS.SILENT (\\Seen)"));
      stores.push_back(
          Server("* 1 FETCH (FLAGS (\\Seen))\r\n" + Tagged(tag, "OK Store completed.")));
      ++tag;
    }
    auto script = MakeScript({Pipelined({Select(1, 600), ListEvenUids(600)}), stores, Logout(tag)});
    {
      auto store = StoreOn(script);
      ASSERT_EQ(store->List(), 600u);
      const std::size_t played = script->next;
      for (const std::size_t index : c.queued) store->QueueReadMark(index);
      EXPECT_EQ(script->next, played);  // queueing says nothing to the server
      store->CommitReadMarks();
      store->CommitReadMarks();  // nothing left to mark: nothing sent
    }
    ExpectScriptPlayed(*script);
  }
}

// Marks queued against one listing are applied after a new listing only
// while the mailbox keeps its UIDVALIDITY: otherwise the UIDs name other
// messages now.
TEST(ImapStore, DropsMarksWhenTheMailboxWasRecreated) {
  struct Case {
    std::string second_validity;
    bool marks_sent;
  };
  for (const Case& c : {Case{"1700000000", true}, Case{"1800000000", false}}) {
    SCOPED_TRACE(c.second_validity);
    const std::string fetch = std::string("a4 ") + kHeaderFetch;
    std::vector<ScriptStep> second_list = {
        Client(fetch), Server(FetchedHeaders(1, 2, "", "\r\n") + Tagged(4, "OK done"))};
    std::vector<ScriptStep> marks;
    if (c.marks_sent) {
      marks = {Client("a5 UID STORE 2 +FLAGS.SILENT (\\Seen)"), Server(Tagged(5, "OK"))};
    }
    auto script =
        MakeScript({Pipelined({Select(1, 1), ListEvenUids(1)}),
                    Pipelined({Select(3, 1, "\"INBOX\"", c.second_validity), second_list}), marks,
                    Logout(c.marks_sent ? 6 : 5)});
    {
      auto store = StoreOn(script);
      ASSERT_EQ(store->List(), 1u);
      store->QueueReadMark(0);
      ASSERT_EQ(store->List(), 1u);
      store->CommitReadMarks();
    }
    ExpectScriptPlayed(*script);
  }
}

}  // namespace
}  // namespace qm
