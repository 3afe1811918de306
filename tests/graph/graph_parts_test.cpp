// The parts of the Graph store that need no server: the "graph:" value, a
// listing page (good, odd and hostile), the read-mark batch and its answer,
// and what an error answer means for the scan.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Failure.h"
#include "graph/GraphErrors.h"
#include "graph/GraphListing.h"
#include "graph/GraphReadMarks.h"
#include "graph/GraphStoreValue.h"

namespace qm {
namespace {

constexpr char kRoot[] = "https://graph.example/v1.0";

TEST(GraphStoreValue, NamesTheOwnOrASharedMailbox) {
  const struct {
    std::string store;
    bool graph;
    std::string mailbox;  // "!" when refused
  } cases[] = {
      {"graph:", true, ""},
      {"GRAPH:", true, ""},
      {"graph:invoices@contoso.example", true, "invoices@contoso.example"},
      {"graph:no-at-sign", true, "!"},
      {"graph:a b@contoso.example", true, "!"},
      {"graph:../../me@x", true, "!"},
      {"graph:a?b@x", true, "!"},
      {"graph:" + std::string(321, 'a') + "@x", true, "!"},
      {"imaps://user@host/INBOX", false, ""},
      {"grap:", false, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsGraphStoreValue(c.store), c.graph) << c.store;
    if (!c.graph) continue;
    if (c.mailbox == "!") {
      EXPECT_THROW(GraphMailboxOf(c.store), Failure) << c.store;
    } else {
      EXPECT_EQ(GraphMailboxOf(c.store), c.mailbox);
      EXPECT_EQ(GraphStoreValue(c.mailbox), "graph:" + c.mailbox);
    }
  }
}

TEST(GraphListing, ReadsMessagesAndTheNextPage) {
  const ListingPage page = ParseListingPage(R"({"value":[
      {"id":"AAMk-a_b=","subject":"請求書 5月","from":{"emailAddress":{"name":"経理","address":"keiri@example.jp"}},
       "isRead":true,"hasAttachments":true},
      {"id":"AAMk2","subject":null,"from":null,"isRead":false},
      {"id":"AAMk3","from":{"emailAddress":{"address":"x@example.jp"}},"isRead":"yes"}],
      "@odata.nextLink":"https://graph.example/v1.0/me/mailFolders/inbox/messages?$skip=3"})",
                                            kRoot);
  ASSERT_EQ(page.messages.size(), 3u);
  EXPECT_EQ(page.messages[0].id, "AAMk-a_b=");
  EXPECT_EQ(page.messages[0].subject, "請求書 5月");
  EXPECT_EQ(page.messages[0].sender_name, "経理");
  EXPECT_EQ(page.messages[0].sender_address, "keiri@example.jp");
  EXPECT_TRUE(page.messages[0].read);
  EXPECT_TRUE(page.messages[0].has_attachments);
  EXPECT_EQ(page.messages[1].subject, "");
  EXPECT_EQ(page.messages[1].sender_address, "");
  EXPECT_FALSE(page.messages[2].read);  // not a boolean: unread, so it is looked at
  EXPECT_EQ(page.messages[2].sender_address, "x@example.jp");
  EXPECT_EQ(page.next_link, "https://graph.example/v1.0/me/mailFolders/inbox/messages?$skip=3");
  EXPECT_TRUE(ParseListingPage(R"({"value":[]})", kRoot).next_link.empty());
}

TEST(GraphListing, CutsLongFields) {
  const std::string subject(200'000, 'x');
  const ListingPage page =
      ParseListingPage(R"({"value":[{"id":"A","subject":")" + subject + R"("}]})", kRoot);
  EXPECT_LT(page.messages[0].subject.size(), subject.size());
}

// The bearer token goes with the next page's request: never to another
// server, nor to the same one outside the API.
TEST(GraphListing, RefusesWhatCannotBeAListing) {
  const std::string refused[] = {
      "not json",
      R"([1,2])",
      R"({"value":{}})",
      R"({"value":[{"subject":"no id"}]})",
      R"({"value":[{"id":""}]})",
      R"({"value":[{"id":42}]})",
      R"({"value":[{"id":")" + std::string(1025, 'A') + R"("}]})",
      R"({"value":[{"id":"a\r\nb"}]})",
      R"({"value":[],"@odata.nextLink":"https://evil.example/v1.0/me?x"})",
      R"({"value":[],"@odata.nextLink":"https://graph.example/v1.0.evil/me"})",
      R"({"value":[],"@odata.nextLink":"http://graph.example/v1.0/me"})",
      R"({"value":[],"@odata.nextLink":7})",
  };
  for (const std::string& text : refused) {
    try {
      ParseListingPage(text, kRoot);
      ADD_FAILURE() << text.substr(0, 80);
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.cause(), Cause::kMailServer) << text.substr(0, 80);
    }
  }
}

TEST(GraphReadMarks, BatchNamesEachMessageUnderTheMailbox) {
  const std::vector<std::string> ids = {"AAMk+/=", "B"};
  const std::string batch = ReadMarkBatch(ids, "/users/shared%40contoso.example");
  EXPECT_NE(batch.find(R"("url":"/users/shared%40contoso.example/messages/AAMk%2B%2F%3D")"),
            std::string::npos)
      << batch;
  EXPECT_NE(batch.find(R"("id":"1")"), std::string::npos);
  EXPECT_NE(batch.find(R"("body":{"isRead":true})"), std::string::npos);
  EXPECT_NE(batch.find(R"("method":"PATCH")"), std::string::npos);
}

TEST(GraphReadMarks, AnswersSayWhatToSendAgain) {
  const struct {
    const char* name;
    std::string answer;
    std::vector<std::size_t> retry;
    long seconds;
    long refused;
  } cases[] = {
      {"all done",
       R"({"responses":[{"id":"0","status":200},{"id":"1","status":204},{"id":"2","status":200}]})",
       {},
       0,
       0},
      {"gone is done",
       R"({"responses":[{"id":"1","status":404},{"id":"0","status":200},{"id":"2","status":200}]})",
       {},
       0,
       0},
      {"throttled",
       R"({"responses":[{"id":"0","status":429,"headers":{"retry-after":"7"}},{"id":"1","status":200},{"id":"2","status":503,"headers":{"Retry-After":"3"}}]})",
       {0, 2},
       7,
       0},
      {"missing and duplicated",
       R"({"responses":[{"id":"0","status":200},{"id":"0","status":429},{"id":"9","status":200}]})",
       {1, 2},
       0,
       0},
      {"refused",
       R"({"responses":[{"id":"0","status":403,"body":{"error":{"code":"ErrorAccessDenied"}}},{"id":"1","status":200},{"id":"2","status":200}]})",
       {},
       0,
       403},
  };
  for (const auto& c : cases) {
    const ReadMarkAnswers answers = ParseReadMarkAnswers(c.answer, 3);
    EXPECT_EQ(answers.to_retry, c.retry) << c.name;
    EXPECT_EQ(answers.retry_after.count(), c.seconds) << c.name;
    EXPECT_EQ(answers.refused_status, c.refused) << c.name;
  }
  EXPECT_THROW(ParseReadMarkAnswers(R"({"value":[]})", 3), Failure);
}

TEST(GraphErrors, TellConsentAndMissingMailboxesFromTheRest) {
  const struct {
    long status;
    std::string body;
    FailureKind kind;
    Cause cause;
  } cases[] = {
      {401, R"({"error":{"code":"InvalidAuthenticationToken"}})", FailureKind::SignOn,
       Cause::kSignInRefused},
      {403, R"({"error":{"code":"ErrorAccessDenied","message":"Access is denied."}})",
       FailureKind::SignOn, Cause::kAccessNotGranted},
      {404,
       R"({"error":{"code":"ErrorInvalidUser","message":"The requested user 'x' is invalid."}})",
       FailureKind::SignOn, Cause::kMailboxNotFound},
      {404, R"({"error":{"code":"MailboxNotEnabledForRESTAPI"}})", FailureKind::SignOn,
       Cause::kMailboxNotFound},
      {404, R"({"error":{"code":"ErrorItemNotFound"}})", FailureKind::MailStore,
       Cause::kMailServer},
      {500, "<html>oops</html>", FailureKind::MailStore, Cause::kMailServer},
  };
  for (const auto& c : cases) {
    const Failure failure = MailboxRequestFailure("listing the inbox", c.status, c.body);
    EXPECT_EQ(failure.kind(), c.kind) << c.body;
    EXPECT_EQ(failure.cause(), c.cause) << c.body;
    EXPECT_NE(std::string(failure.what()).find(std::to_string(c.status)), std::string::npos);
  }
  EXPECT_EQ(GraphErrorText(403, R"({"error":{"code":"ErrorAccessDenied","message":"Denied."}})"),
            "HTTP 403 ErrorAccessDenied: Denied.");
}

}  // namespace
}  // namespace qm
