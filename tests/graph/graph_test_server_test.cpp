// The Graph test server itself, asked with libcurl directly over TLS with its
// test CA: paging, the size when asked for, $value, the read mark, $batch
// (messages base64-encoded, items counted towards the mailbox's
// concurrency), the errors it gives for bad tokens, missing messages and
// mailboxes, and its throttling.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FileBytes.h"
#include "tests/support/GraphTestServer.h"
#include "tests/support/OAuthTestServer.h"
#include "tests/support/TempDir.h"

namespace qm::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;

constexpr char kBothScopes[] =
    "https://graph.microsoft.com/Mail.ReadWrite https://graph.microsoft.com/Mail.ReadWrite.Shared "
    "offline_access";
constexpr char kShared[] = "shared@example.com";
constexpr char kListing[] = "/mailFolders/inbox/messages";
constexpr char kMyListing[] = "/me/mailFolders/inbox/messages";

struct Answer {
  long status = 0;
  std::string body;
  std::string retry_after;  // the header's value, empty when absent
};

// One libcurl handle: its connection is kept alive between requests.
class Client {
 public:
  explicit Client(std::string ca_file) : ca_file_(std::move(ca_file)) {}

  Answer Send(const std::string& method, const std::string& url, const std::string& token,
              const std::string& json = "") {
    Answer answer;
    CURL* h = curl_.get();
    curl_easy_reset(h);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    if (!ca_file_.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, ca_file_.c_str());
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (!json.empty()) curl_easy_setopt(h, CURLOPT_POSTFIELDS, json.c_str());
    const std::string bearer = "Authorization: Bearer " + token;
    curl_slist* headers = curl_slist_append(nullptr, bearer.c_str());
    headers = curl_slist_append(headers, "Content-Type: application/json");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Client::Body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Client::Header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &answer.retry_after);
    const CURLcode result = curl_easy_perform(h);
    curl_slist_free_all(headers);
    EXPECT_EQ(result, CURLE_OK) << curl_easy_strerror(result) << " for " << url;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.status);
    return answer;
  }

 private:
  static size_t Body(char* data, size_t, size_t size, void* sink) {
    static_cast<std::string*>(sink)->append(data, size);
    return size;
  }
  static size_t Header(char* data, size_t, size_t size, void* sink) {
    const std::string line(data, size);
    if (line.rfind("Retry-After:", 0) == 0) {
      *static_cast<std::string*>(sink) = line.substr(13, line.find_first_of("\r\n") - 13);
    }
    return size;
  }

  std::string ca_file_;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl_{curl_easy_init(), curl_easy_cleanup};
};

// An inbox of three messages, an hour apart; one unread in new/, two in cur/.
class GraphTestServerTest : public ::testing::Test {
 protected:
  GraphTestServerTest() {
    Deliver(inbox_, "new/1000.A.host", "Subject: first\r\n\r\nbody one\r\n", 0);
    Deliver(inbox_, "cur/1001.B.host:2,F", "Subject: second\r\n\r\nbody two\r\n", 1);
    Deliver(inbox_, "cur/1002.C.host:2,", "Subject: third\r\n\r\nbody three\r\n", 2);
    fs::create_directories(shared_ / "cur");
    fs::create_directories(shared_ / "new");
  }

  static void Deliver(const TempDir& box, const std::string& name, const std::string& bytes,
                      int hour) {
    fs::create_directories((box / name).parent_path());
    WriteFile(box / name, bytes);
    fs::last_write_time(box / name, fs::file_time_type{} + std::chrono::hours(480'000 + hour));
  }

  std::string Token(const std::string& scope = kBothScopes, std::chrono::seconds life = 60s) {
    return authorization_.IssueAccessToken(life, scope);
  }

  Answer Get(const std::string& path, const std::string& token) {
    return client_.Send("GET", server_.ApiRoot() + path, token);
  }

  TempDir inbox_;
  TempDir shared_;
  OAuthTestServer authorization_;
  GraphTestServer server_{
      {inbox_.path(), {{kShared, shared_.path()}}, authorization_.Url("/introspect")}};
  Client client_{server_.CaFile()};
};

TEST_F(GraphTestServerTest, PagesFollowTheNextLinkInTimeOrderOverOneConnection) {
  const std::string token = Token();
  Json first = Json::parse(Get(std::string(kMyListing) + "?$select=id&$top=2", token).body);
  ASSERT_TRUE(first.contains("@odata.nextLink"));
  const Json second = Json::parse(client_.Send("GET", first["@odata.nextLink"], token).body);
  EXPECT_FALSE(second.contains("@odata.nextLink"));
  ASSERT_EQ(first["value"].size(), 2u);
  ASSERT_EQ(second["value"].size(), 1u);
  EXPECT_EQ(first["value"][0]["id"], server_.IdOf("1000.A.host"));
  EXPECT_EQ(first["value"][1]["subject"], "second");
  EXPECT_EQ(second["value"][0]["id"], server_.IdOf("1002.C.host"));
  EXPECT_EQ(first["value"][0]["isRead"], false);
  EXPECT_EQ(server_.counts().pages, 2);
  EXPECT_EQ(server_.counts().connections, 1) << "the connection was not kept alive";
}

TEST_F(GraphTestServerTest, HasAttachmentsAsExchangeReportsIt) {
  struct Case {
    const char* base;
    std::string part_head;  // the second part's header fields
    std::string body;
    bool has_attachments;
  };
  const Case cases[] = {
      {"named", "Content-Type: application/pdf; name=\"a.pdf\"\r\n", "PDF", true},
      {"disposition", "Content-Type: text/plain\r\nContent-Disposition: attachment\r\n", "x", true},
      {"inline image",
       "Content-Type: image/png; name=\"a.png\"\r\nContent-ID: <a@b>\r\n"
       "Content-Disposition: inline\r\n",
       "PNG", false},
      {"uuencoded", "Content-Type: text/plain\r\n", "begin 644 a.bin\r\n#86)C\r\n`\r\nend\r\n",
       false},
  };
  int hour = 10;
  for (const Case& c : cases) {
    Deliver(inbox_, std::string("cur/") + c.base + ":2,",
            "Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\nContent-Type: text/plain\r\n"
            "\r\ntext\r\n--x\r\n" +
                c.part_head + "\r\n" + c.body + "\r\n--x--\r\n",
            hour++);
  }
  const Json listing = Json::parse(Get(std::string(kMyListing) + "?$top=10", Token()).body);
  for (const Case& c : cases) {
    const std::string id = server_.IdOf(c.base);
    const auto found = std::find_if(listing["value"].begin(), listing["value"].end(),
                                    [&](const Json& m) { return m["id"] == id; });
    ASSERT_NE(found, listing["value"].end()) << c.base;
    EXPECT_EQ((*found)["hasAttachments"], c.has_attachments) << c.base;
  }
}

TEST_F(GraphTestServerTest, ValueIsTheFileAndPatchSetsTheSeenFlag) {
  struct Case {
    std::string base, file_before, file_after;
  };
  const Case cases[] = {{"1000.A.host", "new/1000.A.host", "cur/1000.A.host:2,S"},
                        {"1001.B.host", "cur/1001.B.host:2,F", "cur/1001.B.host:2,FS"}};
  const std::string token = Token();
  for (const Case& c : cases) {
    const std::string url = "/me/messages/" + server_.IdOf(c.base);
    EXPECT_EQ(Get(url + "/$value", token).body, ReadFile(inbox_ / c.file_before)) << c.base;
    const Answer patched =
        client_.Send("PATCH", server_.ApiRoot() + url, token, R"({"isRead":true})");
    EXPECT_EQ(patched.status, 200) << c.base;
    EXPECT_TRUE(fs::exists(inbox_ / c.file_after)) << c.base;
    EXPECT_FALSE(fs::exists(inbox_ / c.file_before)) << c.base;
  }
  EXPECT_EQ(server_.counts().patches, 2);
}

TEST_F(GraphTestServerTest, BatchAnswersEachItem) {
  server_.Remove("1002.C.host");
  Json requests = Json::array();
  for (const char* base : {"1000.A.host", "1002.C.host"}) {
    requests.push_back({{"id", base},
                        {"method", "PATCH"},
                        {"url", "/me/messages/" + server_.IdOf(base)},
                        {"headers", {{"Content-Type", "application/json"}}},
                        {"body", {{"isRead", true}}}});
  }
  const Answer answer = client_.Send("POST", server_.ApiRoot() + "/$batch", Token(),
                                     Json{{"requests", requests}}.dump());
  ASSERT_EQ(answer.status, 200) << answer.body;
  const Json responses = Json::parse(answer.body)["responses"];
  ASSERT_EQ(responses.size(), 2u);
  EXPECT_EQ(responses[0]["status"], 200);
  EXPECT_EQ(responses[1]["status"], 404);
  EXPECT_EQ(responses[1]["body"]["error"]["code"], "ErrorItemNotFound");
  EXPECT_TRUE(fs::exists(inbox_ / "cur/1000.A.host:2,S"));
  EXPECT_EQ(server_.counts().batches, 1);
  EXPECT_EQ(server_.counts().batch_items, 2);
}

TEST_F(GraphTestServerTest, ListsTheSizeWhenAskedFor) {
  const std::string expand =
      "?$expand=singleValueExtendedProperties($filter=id%20eq%20'Integer%200x0E08')";
  const Json sized = Json::parse(Get(kMyListing + expand, Token()).body);
  EXPECT_EQ(sized["value"][0]["singleValueExtendedProperties"],
            Json::parse(R"([{"id":"Integer 0xe08","value":"28"}])"));
  const Json plain = Json::parse(Get(kMyListing, Token()).body);
  EXPECT_FALSE(plain["value"][0].contains("singleValueExtendedProperties"));
}

// A $value item's answer is the message base64-encoded; a scripted 200
// answers its text as it is.
TEST_F(GraphTestServerTest, BatchBringsMessagesBase64Encoded) {
  server_.Remove("1001.B.host");
  server_.Fail(server_.IdOf("1002.C.host") + "/$value", 1, 200, "not base64");
  Json requests = Json::array();
  for (const char* base : {"1000.A.host", "1001.B.host", "1002.C.host", "1002.C.host"}) {
    requests.push_back({{"id", std::to_string(requests.size())},
                        {"method", "GET"},
                        {"url", "/me/messages/" + server_.IdOf(base) + "/$value"}});
  }
  const Answer answer = client_.Send("POST", server_.ApiRoot() + "/$batch", Token(),
                                     Json{{"requests", requests}}.dump());
  ASSERT_EQ(answer.status, 200) << answer.body;
  const Json responses = Json::parse(answer.body)["responses"];
  ASSERT_EQ(responses.size(), 4u);
  const struct {
    int status;
    Json body;
  } expected[] = {
      {200, "U3ViamVjdDogZmlyc3QNCg0KYm9keSBvbmUNCg=="},
      {404,
       {{"error", {{"code", "ErrorItemNotFound"}, {"message", "test server: ErrorItemNotFound"}}}}},
      {200, "U3ViamVjdDogdGhpcmQNCg0KYm9keSB0aHJlZQ0K"},
      {200, "not base64"}};
  // Items 2 and 3 ask for the same message at the same time: either one
  // meets the scripted answer.
  const bool swapped = responses[2]["body"] == "not base64";
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t expected_at = i >= 2 && swapped ? 5 - i : i;
    EXPECT_EQ(responses[i]["id"], std::to_string(i));
    EXPECT_EQ(responses[i]["status"], expected[expected_at].status) << i;
    EXPECT_EQ(responses[i]["body"], expected[expected_at].body) << i;
  }
  EXPECT_EQ(responses[0]["headers"]["Content-Type"], "text/plain");
  EXPECT_EQ(server_.counts().values, 0);
  EXPECT_EQ(server_.counts().batch_items, 4);
}

// Four items at once fill the mailbox's four places: a request beside them
// is the fifth.
TEST_F(GraphTestServerTest, BatchItemsCountTowardsTheMailboxsConcurrency) {
  server_.SetDelay(3s);
  const std::string token = Token();
  Json requests = Json::array();
  for (int i = 0; i < 4; ++i) {
    requests.push_back({{"id", std::to_string(i)},
                        {"method", "GET"},
                        {"url", "/me/messages/" + server_.IdOf("1000.A.host") + "/$value"}});
  }
  Answer batch;
  std::thread sender([&] {
    batch = Client(server_.CaFile())
                .Send("POST", server_.ApiRoot() + "/$batch", token,
                      Json{{"requests", requests}}.dump());
  });
  // Once all four items are in flight (they stay there for the delay).
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (server_.counts().max_concurrent < 4 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  const Answer beside = Get(kMyListing, token);
  sender.join();
  EXPECT_EQ(beside.status, 429);
  EXPECT_EQ(beside.retry_after, "1");
  ASSERT_EQ(batch.status, 200);
  const Json answers = Json::parse(batch.body);  // kept: the loop below reads into it
  for (const Json& item : answers["responses"]) EXPECT_EQ(item["status"], 200);
  EXPECT_EQ(server_.counts().max_concurrent, 5);
  EXPECT_EQ(server_.counts().throttled, 1);
}

TEST_F(GraphTestServerTest, ErrorsAsGraphGivesThem) {
  struct Case {
    const char* name;
    std::string token;
    std::string path;
    long status;
    std::string code;
    std::string retry_after;
  };
  server_.Remove("1001.B.host");
  server_.Throttle("/users/" + std::string(kShared), 1, 429, 7);
  server_.Throttle("/$value", 1, 503, -1);
  const std::string shared_list = "/users/" + std::string(kShared) + kListing;
  const Case cases[] = {
      {"expired", Token(kBothScopes, -1s), kMyListing, 401, "InvalidAuthenticationToken", ""},
      {"no Mail.ReadWrite", Token("offline_access"), kMyListing, 403, "ErrorAccessDenied", ""},
      {"not shared", Token("Mail.ReadWrite"), shared_list, 403, "ErrorAccessDenied", ""},
      {"removed", Token(), "/me/messages/" + server_.IdOf("1001.B.host"), 404, "ErrorItemNotFound",
       ""},
      {"unknown mailbox", Token(), "/users/nobody@example.com" + std::string(kListing), 404,
       "ErrorInvalidUser", ""},
      {"throttled", Token(), shared_list, 429, "ApplicationThrottled", "7"},
      {"throttle used up", Token(), shared_list, 200, "", ""},
      {"unavailable", Token(), "/me/messages/" + server_.IdOf("1000.A.host") + "/$value", 503,
       "ServiceUnavailable", ""},
  };
  for (const Case& c : cases) {
    const Answer answer = Get(c.path, c.token);
    EXPECT_EQ(answer.status, c.status) << c.name;
    EXPECT_EQ(answer.retry_after, c.retry_after) << c.name;
    if (!c.code.empty()) {
      EXPECT_EQ(Json::parse(answer.body)["error"]["code"], c.code) << c.name;
    }
  }
  const GraphTestServer::Counts counts = server_.counts();
  EXPECT_EQ(counts.unauthorized, 1);
  EXPECT_EQ(counts.forbidden, 2);
  EXPECT_EQ(counts.throttled, 2);
}

// A refreshed access token keeps the scope of the sign-in that left the refresh token.
TEST_F(GraphTestServerTest, RefreshedTokenKeepsItsScope) {
  struct Case {
    std::string scope;
    long status;
  };
  const Case cases[] = {{kBothScopes, 200}, {"offline_access", 403}};
  for (const Case& c : cases) {
    const std::string form =
        "grant_type=refresh_token&client_id=" + std::string(OAuthTestServer::kClientId) +
        "&refresh_token=" + authorization_.IssueRefreshToken(c.scope);
    const Answer grant = Client("").Send("POST", authorization_.Url("/token"), "", form);
    const std::string token = Json::parse(grant.body)["access_token"];
    EXPECT_EQ(Get(kMyListing, token).status, c.status) << c.scope;
  }
}

TEST_F(GraphTestServerTest, AFifthRequestAtOnceIsThrottled) {
  server_.SetDelay(1500ms);
  const std::string token = Token();
  std::vector<Answer> answers(5);
  std::vector<std::thread> threads;
  for (Answer& answer : answers) {
    threads.emplace_back([&] {
      answer = Client(server_.CaFile()).Send("GET", server_.ApiRoot() + kMyListing, token);
    });
  }
  for (std::thread& t : threads) t.join();
  int throttled = 0;
  for (const Answer& answer : answers) {
    if (answer.status != 429) continue;
    ++throttled;
    EXPECT_EQ(answer.retry_after, "1");
    EXPECT_EQ(Json::parse(answer.body)["error"]["code"], "MailboxConcurrency");
  }
  EXPECT_EQ(throttled, 1);
  EXPECT_EQ(server_.counts().max_concurrent, 5);
}

}  // namespace
}  // namespace qm::testing
