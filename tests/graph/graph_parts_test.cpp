// The parts of the Graph store that need no server: the "graph:" value, a
// listing page (good, odd and hostile) with the sizes, the read-mark batch
// and its answer, the batch of messages and its answer, and what an error
// answer means for the scan.

#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Failure.h"
#include "graph/GraphErrors.h"
#include "graph/GraphListing.h"
#include "graph/GraphMessageBatch.h"
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

TEST(GraphListing, AsksForTheSize) {
  EXPECT_NE(ListingQuery(10).find("&$expand=singleValueExtendedProperties($filter=id%20eq%20'"
                                  "Integer%200x0E08')"),
            std::string::npos)
      << ListingQuery(10);
}

TEST(GraphListing, ReadsTheSizeWhenItIsADecimalNumber) {
  const struct {
    const char* name;
    std::string properties;  // the member, or "" for none
    std::optional<std::uint64_t> size;
  } cases[] = {
      {"as Graph gives it", R"([{"id":"Integer 0xe08","value":"12345"}])", 12345},
      {"as the query names it", R"([{"id":"Integer 0x0E08","value":"7"}])", 7},
      {"among others",
       R"([{"id":"String 0x1000","value":"x"},{"id":"integer 0xE08","value":"600000"}])", 600000},
      {"absent", "", std::nullopt},
      {"empty", "[]", std::nullopt},
      {"null", "null", std::nullopt},
      {"another property", R"([{"id":"Integer 0xe07","value":"12"}])", std::nullopt},
      {"a JSON number", R"([{"id":"Integer 0xe08","value":12345}])", std::nullopt},
      {"letters", R"([{"id":"Integer 0xe08","value":"12a"}])", std::nullopt},
      {"negative", R"([{"id":"Integer 0xe08","value":"-1"}])", std::nullopt},
      {"blank", R"([{"id":"Integer 0xe08","value":" 12"}])", std::nullopt},
      {"empty text", R"([{"id":"Integer 0xe08","value":""}])", std::nullopt},
      {"too large", R"([{"id":"Integer 0xe08","value":"99999999999999999999999"}])", std::nullopt},
  };
  for (const auto& c : cases) {
    const std::string member =
        c.properties.empty() ? "" : R"(,"singleValueExtendedProperties":)" + c.properties;
    const ListingPage page = ParseListingPage(R"({"value":[{"id":"A")" + member + "}]}", kRoot);
    ASSERT_EQ(page.messages.size(), 1u) << c.name;
    EXPECT_EQ(page.messages[0].size, c.size) << c.name;
  }
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

TEST(GraphMessageBatch, AsksForEachMessageAsMime) {
  const std::vector<std::string_view> ids = {"AAMk+/=", "B"};
  const nlohmann::json batch =
      nlohmann::json::parse(MessageBatch(ids, "/users/shared%40contoso.example"));
  ASSERT_EQ(batch["requests"].size(), 2u);
  EXPECT_EQ(batch["requests"][0]["url"],
            "/users/shared%40contoso.example/messages/AAMk%2B%2F%3D/$value");
  EXPECT_EQ(batch["requests"][1]["id"], "1");
  EXPECT_EQ(batch["requests"][1]["method"], "GET");
}

// Only a 200 with strict base64 text brings a message; 404 is a message
// gone; anything else sends it to be fetched on its own.
TEST(GraphMessageBatch, AnswersBringTheMessagesTheyCan) {
  using Outcome = BatchedMessage::Outcome;
  constexpr char kText[] = R"("UmVjZWl2ZWQ6IC4uLg==")";  // "Received: ..."
  const struct {
    const char* name;
    std::string item;  // the answer to item "0"; "" for none
    Outcome outcome;
    std::string bytes;
  } cases[] = {
      {"arrived", std::string(R"({"id":"0","status":200,"body":)") + kText + "}", Outcome::kArrived,
       "Received: ..."},
      {"one padding", R"({"id":"0","status":200,"body":"QUI="})", Outcome::kArrived, "AB"},
      {"no padding", R"({"id":"0","status":200,"body":"QUJD"})", Outcome::kArrived, "ABC"},
      {"empty", R"({"id":"0","status":200,"body":""})", Outcome::kArrived, ""},
      {"gone", R"({"id":"0","status":404,"body":{"error":{"code":"ErrorItemNotFound"}}})",
       Outcome::kGone, ""},
      {"throttled", R"({"id":"0","status":429,"headers":{"Retry-After":"2"}})",
       Outcome::kFetchAlone, ""},
      {"server fault", R"({"id":"0","status":500})", Outcome::kFetchAlone, ""},
      {"no status", std::string(R"({"id":"0","body":)") + kText + "}", Outcome::kFetchAlone, ""},
      {"other success", std::string(R"({"id":"0","status":204,"body":)") + kText + "}",
       Outcome::kFetchAlone, ""},
      {"JSON body", R"({"id":"0","status":200,"body":{"id":"AAMk"}})", Outcome::kFetchAlone, ""},
      {"no body", R"({"id":"0","status":200})", Outcome::kFetchAlone, ""},
      {"not the alphabet", R"({"id":"0","status":200,"body":"QUJ*"})", Outcome::kFetchAlone, ""},
      {"line break", R"({"id":"0","status":200,"body":"QUJD\r\nQUJD"})", Outcome::kFetchAlone, ""},
      {"cut group", R"({"id":"0","status":200,"body":"QUJDQ"})", Outcome::kFetchAlone, ""},
      {"padding inside", R"({"id":"0","status":200,"body":"QQ==QUJD"})", Outcome::kFetchAlone, ""},
      {"three padding", R"({"id":"0","status":200,"body":"Q==="})", Outcome::kFetchAlone, ""},
      {"url-safe alphabet", R"({"id":"0","status":200,"body":"-_-_"})", Outcome::kFetchAlone, ""},
      {"no answer", "", Outcome::kFetchAlone, ""},
      {"named by a number", std::string(R"({"id":0,"status":200,"body":)") + kText + "}",
       Outcome::kFetchAlone, ""},
  };
  for (const auto& c : cases) {
    const std::string answer = R"({"responses":[)" + c.item + (c.item.empty() ? "" : ",") +
                               R"({"id":"1","status":200,"body":"QUJD"},)"
                               R"({"id":"7","status":200,"body":"QUJD"}]})";
    const std::vector<BatchedMessage> messages = ParseMessageBatch(answer, 2);
    ASSERT_EQ(messages.size(), 2u) << c.name;
    EXPECT_EQ(messages[0].outcome, c.outcome) << c.name;
    EXPECT_EQ(messages[0].bytes, c.bytes) << c.name;
    EXPECT_EQ(messages[1].outcome, Outcome::kArrived) << c.name;
    EXPECT_EQ(messages[1].bytes, "ABC") << c.name;
  }
}

TEST(GraphMessageBatch, AnAnswerThatIsNoBatchSendsEachAlone) {
  for (const std::string answer : {"not json", R"({"value":[]})", R"({"responses":{}})", "[]"}) {
    const std::vector<BatchedMessage> messages = ParseMessageBatch(answer, 3);
    ASSERT_EQ(messages.size(), 3u) << answer;
    for (const BatchedMessage& message : messages) {
      EXPECT_EQ(message.outcome, BatchedMessage::Outcome::kFetchAlone) << answer;
    }
  }
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
