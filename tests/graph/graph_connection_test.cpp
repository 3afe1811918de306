// The Graph HTTP layer: the waits between attempts on their own, then the
// connection against the project's Graph test server (TLS on 127.0.0.1):
// several requests at once on few connections, bodies into files, retries
// after 429, 503 and a cut connection, the token's renewal after 401, the
// failures that end a connection, and a cancel.

#include "graph/GraphConnection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "base/UniqueFd.h"
#include "graph/GraphRetryWait.h"
#include "tests/support/FileBytes.h"
#include "tests/support/GraphTestServer.h"
#include "tests/support/ScratchFiles.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::GraphServerOptions;
using testing::GraphTestServer;
using testing::TempDir;

struct CaughtFailure {
  bool thrown = false;
  Cause cause = Cause::kInternal;
  std::string text;
};

CaughtFailure FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Failure& failure) {
    return {true, failure.cause(), failure.what()};
  }
  return {};
}

// ---- The waits between attempts ----

TEST(GraphRetryWait, TakesTheServersRetryAfterElseBacksOffUpToEightSeconds) {
  struct Case {
    int retry_after;
    int failed_attempts;
    int expected;
  };
  const Case cases[] = {{0, 1, 1}, {0, 2, 2}, {0, 3, 4},   {0, 4, 8},
                        {0, 9, 8}, {3, 1, 3}, {30, 4, 30}, {120, 1, 120}};
  for (const Case& c : cases) {
    GraphRetryWait waits(120s, 600s);
    EXPECT_EQ(waits.Next(std::chrono::seconds{c.retry_after}, c.failed_attempts, Clock::now()),
              std::chrono::seconds{c.expected})
        << c.retry_after << " after " << c.failed_attempts;
  }
}

TEST(GraphRetryWait, CountsOverlappingWaitsOnceAndRefusesTooMuchWaiting) {
  struct Wait {
    int retry_after;
    int at;  // seconds from the start
  };
  struct Case {
    const char* name;
    std::vector<Wait> waits;
    int waited;      // in all, after the waits that passed
    int refused_at;  // index of the wait refused, -1: none
  };
  // Longest single wait 60 s, 100 s in all.
  const Case cases[] = {
      {"four at once count once", {{10, 0}, {10, 0}, {10, 0}, {10, 0}}, 10, -1},
      {"overlapping ones add their tail", {{10, 0}, {10, 5}}, 15, -1},
      {"one after another add up", {{40, 0}, {40, 40}, {20, 80}}, 100, -1},
      {"past the total", {{40, 0}, {40, 40}, {30, 80}}, 80, 2},
      {"longer than the longest", {{61, 0}}, 0, 0},
      {"the longest itself", {{60, 0}}, 60, -1},
  };
  for (const Case& c : cases) {
    GraphRetryWait waits(60s, 100s);
    const Clock::time_point start = Clock::now();
    for (std::size_t i = 0; i < c.waits.size(); ++i) {
      const CaughtFailure failure = FailureOf([&] {
        waits.Next(std::chrono::seconds{c.waits[i].retry_after}, 1,
                   start + std::chrono::seconds{c.waits[i].at});
      });
      EXPECT_EQ(failure.thrown, static_cast<int>(i) == c.refused_at) << c.name << " #" << i;
      if (failure.thrown) {
        EXPECT_EQ(failure.cause, Cause::kServerThrottled) << c.name;
        EXPECT_NE(failure.text.find("asked to wait"), std::string::npos) << failure.text;
        break;
      }
    }
    EXPECT_EQ(waits.waited(), std::chrono::seconds{c.waited}) << c.name;
  }
}

// ---- Against the test server ----

std::string PercentEncoded(const std::string& id) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const unsigned char c : id) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      encoded += static_cast<char>(c);
    } else {
      encoded += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return encoded;
}

// A message of about `size` bytes whose lines tell where they are, so that
// a piece missing or repeated shows.
std::string MessageOf(int number, std::size_t size) {
  std::string message = "From: Sender " + std::to_string(number) +
                        " <sender@example.com>\r\nSubject: message " + std::to_string(number) +
                        "\r\n\r\n";
  for (int line = 0; message.size() < size; ++line) {
    message += "message " + std::to_string(number) + " line " + std::to_string(line) + "\r\n";
  }
  return message;
}

class GraphConnectionTest : public ::testing::Test {
 protected:
  static constexpr int kMessages = 10;

  GraphConnectionTest() {
    std::filesystem::create_directories(maildir_ / "cur");
    std::filesystem::create_directories(maildir_ / "new");
    std::filesystem::create_directories(maildir_ / "tmp");
    for (int i = 0; i < kMessages; ++i) {
      // Message 0 is large enough for the bounds and the cut connection.
      testing::WriteFile(FileOf(i), MessageOf(i, i == 0 ? 300'000 : 2'000));
    }
    server_ = std::make_unique<GraphTestServer>(GraphServerOptions{maildir_.path()});
  }

  std::string NameOf(int message) const { return "100" + std::to_string(message) + ".M1P1.test"; }
  std::filesystem::path FileOf(int message) const { return maildir_ / "new" / NameOf(message); }
  std::string ValueUrl(int message) const {
    return server_->ApiRoot() + "/me/messages/" + PercentEncoded(server_->IdOf(NameOf(message))) +
           "/$value";
  }
  GraphRequest ValueRequest(int message, int body_file = -1) const {
    GraphRequest request;
    request.url = ValueUrl(message);
    request.body_file = body_file;
    return request;
  }
  GraphConnectionOptions Options() const {
    GraphConnectionOptions options;
    options.ca_pem = server_->CaPem();
    options.timeouts.connect = 5s;
    return options;
  }
  std::unique_ptr<GraphConnection> Connect(GraphConnectionOptions options,
                                           const Cancellation* cancel = nullptr) {
    return std::make_unique<GraphConnection>(
        std::move(options), [](bool) { return std::string("good-token"); }, cancel);
  }

  TempDir maildir_;
  std::unique_ptr<GraphTestServer> server_;
};

// 40 requests at once: never more in flight than allowed, each on one of
// that many kept-alive connections (the test server speaks HTTP/1.1).
TEST_F(GraphConnectionTest, RunsAtMostMaxInFlightRequestsAtOnceOnAsManyConnections) {
  for (const int max_in_flight : {4, 2}) {
    server_ = std::make_unique<GraphTestServer>(GraphServerOptions{maildir_.path()});
    server_->SetDelay(50ms);  // long enough for the requests to overlap
    GraphConnectionOptions options = Options();
    options.max_in_flight = max_in_flight;
    auto connection = Connect(options);
    for (int i = 0; i < 40; ++i) connection->Start(ValueRequest(1 + i % (kMessages - 1)));
    EXPECT_EQ(connection->Pending(), 40u);
    std::vector<int> seen(41, 0);
    for (int i = 0; i < 40; ++i) {
      const GraphReply reply = connection->WaitForAny();
      ASSERT_EQ(reply.status, 200) << reply.body;
      ASSERT_GE(reply.tag, 1u);
      ASSERT_LE(reply.tag, 40u);
      ++seen[reply.tag];
      const int message = 1 + static_cast<int>(reply.tag - 1) % (kMessages - 1);
      EXPECT_EQ(reply.body, testing::ReadFile(FileOf(message))) << "tag " << reply.tag;
    }
    EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), 1), 40);
    EXPECT_EQ(connection->Pending(), 0u);
    const auto counts = server_->counts();
    EXPECT_GT(counts.max_concurrent, 1) << max_in_flight;
    EXPECT_LE(counts.max_concurrent, max_in_flight);
    EXPECT_LE(counts.connections, max_in_flight);
    EXPECT_EQ(counts.throttled, 0);
    const auto stats = connection->stats();
    EXPECT_EQ(stats.requests, 40u);
    EXPECT_EQ(stats.retries, 0u);
    EXPECT_GE(stats.connections, 1u);
    EXPECT_LE(stats.connections, static_cast<std::uint64_t>(max_in_flight));
  }
}

// A read mark and a $batch of two, with their JSON bodies; the server
// answers 400 to a body it cannot read and sets the flag in the file's name.
TEST_F(GraphConnectionTest, SendsPatchAndPostWithTheirJsonBodies) {
  auto connection = Connect(Options());
  GraphRequest patch;
  patch.method = "PATCH";
  patch.url = server_->ApiRoot() + "/me/messages/" + PercentEncoded(server_->IdOf(NameOf(1)));
  patch.json_body = R"({"isRead":true})";
  GraphReply reply = connection->Call(patch);
  EXPECT_EQ(reply.status, 200) << reply.body;
  EXPECT_NE(reply.body.find(R"("isRead": true)"), std::string::npos) << reply.body;
  EXPECT_FALSE(std::filesystem::exists(FileOf(1)));

  GraphRequest batch;
  batch.method = "POST";
  batch.url = server_->ApiRoot() + "/$batch";
  std::string items;
  for (const int message : {2, 3}) {
    items += std::string(items.empty() ? "" : ",") + R"({"id":")" + std::to_string(message) +
             R"(","method":"PATCH","url":"/me/messages/)" +
             PercentEncoded(server_->IdOf(NameOf(message))) +
             R"(","headers":{"Content-Type":"application/json"},"body":{"isRead":true}})";
  }
  batch.json_body = R"({"requests":[)" + items + "]}";
  reply = connection->Call(batch);
  EXPECT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(server_->counts().patches, 1);
  EXPECT_EQ(server_->counts().batch_items, 2);
  EXPECT_FALSE(std::filesystem::exists(FileOf(2)));
  EXPECT_FALSE(std::filesystem::exists(FileOf(3)));
  const auto log = server_->Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_TRUE(log[0].starts_with("PATCH /v1.0/me/messages/")) << log[0];
  EXPECT_EQ(log[1], "POST /v1.0/$batch");
}

TEST_F(GraphConnectionTest, WaitForReturnsThatRequestAndKeepsTheOthersForWaitForAny) {
  auto connection = Connect(Options());
  const std::uint64_t first = connection->Start(ValueRequest(1));
  const std::uint64_t second = connection->Start(ValueRequest(2));
  const std::uint64_t third = connection->Start(ValueRequest(3));
  EXPECT_EQ(connection->WaitFor(second).body, testing::ReadFile(FileOf(2)));
  std::vector<std::uint64_t> rest = {connection->WaitForAny().tag, connection->WaitForAny().tag};
  std::sort(rest.begin(), rest.end());
  EXPECT_EQ(rest, (std::vector<std::uint64_t>{first, third}));
  EXPECT_EQ(FailureOf([&] { connection->WaitForAny(); }).cause, Cause::kInternal);
}

TEST_F(GraphConnectionTest, WritesABodyIntoTheFileAndAnErrorAnswerIntoMemory) {
  auto connection = Connect(Options());
  const UniqueFd file = testing::NewScratchFile();
  GraphReply reply = connection->Call(ValueRequest(0, file.get()));
  EXPECT_EQ(reply.status, 200);
  EXPECT_TRUE(reply.body.empty());
  ASSERT_EQ(::lseek(file.get(), 0, SEEK_SET), 0);
  EXPECT_EQ(testing::ReadFd(file.get()), testing::ReadFile(FileOf(0)));

  const UniqueFd other = testing::NewScratchFile();
  server_->Fail("/messages/", 1, 404, "ErrorItemNotFound");
  reply = connection->Call(ValueRequest(1, other.get()));
  EXPECT_EQ(reply.status, 404);
  EXPECT_NE(reply.body.find("ErrorItemNotFound"), std::string::npos) << reply.body;
  ASSERT_EQ(::lseek(other.get(), 0, SEEK_SET), 0);
  EXPECT_EQ(testing::ReadFd(other.get()), "");
}

// Each fault hits the first attempt; the second gets the whole message,
// into a file that held the cut first attempt's bytes.
TEST_F(GraphConnectionTest, RetriesAfterThrottlingAndCutConnectionsAndHonoursTheWait) {
  struct Case {
    const char* name;
    std::function<void(GraphTestServer&)> fault;
    std::chrono::milliseconds least_elapsed;
  };
  const Case cases[] = {
      {"429 with Retry-After 2", [](auto& s) { s.Throttle("/$value", 1, 429, 2); }, 2000ms},
      {"503 without Retry-After: 1 s backoff", [](auto& s) { s.Throttle("/$value", 1, 503, -1); },
       1000ms},
      {"502 twice: 1 s then 2 s", [](auto& s) { s.Fail("/$value", 2, 502, "BadGateway"); }, 3000ms},
      {"a body cut after 20000 bytes", [](auto& s) { s.CutBody("/$value", 1, 20'000); }, 1000ms},
  };
  for (const Case& c : cases) {
    auto connection = Connect(Options());
    const UniqueFd file = testing::NewScratchFile();
    c.fault(*server_);
    const Clock::time_point start = Clock::now();
    const GraphReply reply = connection->Call(ValueRequest(0, file.get()));
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(reply.status, 200) << c.name << ": " << reply.body;
    // Of the last answer, which had none.
    EXPECT_EQ(reply.retry_after.count(), 0) << c.name;
    EXPECT_GE(elapsed, c.least_elapsed) << c.name;
    EXPECT_LT(elapsed, c.least_elapsed + 3s) << c.name;
    ASSERT_EQ(::lseek(file.get(), 0, SEEK_SET), 0);
    EXPECT_EQ(testing::ReadFd(file.get()), testing::ReadFile(FileOf(0))) << c.name;
    EXPECT_GE(connection->stats().retries, 1u) << c.name;
    EXPECT_EQ(connection->stats().requests, connection->stats().retries + 1) << c.name;
  }
}

TEST_F(GraphConnectionTest, OtherRequestsGoOnWhileOneWaitsForItsRetry) {
  auto connection = Connect(Options());
  server_->Throttle("/messages/" + server_->IdOf(NameOf(1)) + "/$value", 1, 429, 3);
  const Clock::time_point start = Clock::now();
  const std::uint64_t throttled = connection->Start(ValueRequest(1));
  for (int i = 2; i < 8; ++i) connection->Start(ValueRequest(i));
  for (int i = 2; i < 8; ++i) EXPECT_EQ(connection->WaitForAny().status, 200);
  EXPECT_LT(Clock::now() - start, 2s);
  const GraphReply reply = connection->WaitFor(throttled);
  EXPECT_EQ(reply.status, 200);
  EXPECT_GE(Clock::now() - start, 3s);
}

TEST_F(GraphConnectionTest, FailsWhenTheServerAsksToWaitTooLongOrTooOften) {
  struct Case {
    const char* name;
    int times;
    int retry_after;
    GraphConnectionOptions options;
    const char* text;
  };
  GraphConnectionOptions short_wait;
  short_wait.longest_wait = 2s;
  GraphConnectionOptions two_attempts;
  two_attempts.max_attempts = 2;
  const Case cases[] = {
      {"Retry-After past the longest wait", 1, 30, short_wait, "asked to wait 30 s"},
      {"still 429 after its attempts", 5, 1, two_attempts, "after 2 attempts"},
  };
  for (const Case& c : cases) {
    GraphConnectionOptions options = c.options;
    options.ca_pem = server_->CaPem();
    auto connection = Connect(options);
    server_->Throttle("/$value", c.times, 429, c.retry_after);
    const Clock::time_point start = Clock::now();
    const CaughtFailure failure = FailureOf([&] { connection->Call(ValueRequest(1)); });
    EXPECT_LT(Clock::now() - start, 5s) << c.name;
    EXPECT_EQ(failure.cause, Cause::kServerThrottled) << c.name << ": " << failure.text;
    EXPECT_NE(failure.text.find(c.text), std::string::npos) << failure.text;
    // Unusable afterwards: the same failure again.
    EXPECT_EQ(FailureOf([&] { connection->Start(ValueRequest(2)); }).text, failure.text);
  }
}

// The server takes only "good-token". Four requests refused with the same
// stale token renew it once; a token still refused after its renewal is
// the reply.
TEST_F(GraphConnectionTest, RenewsTheTokenOnceAfter401) {
  struct Case {
    const char* name;
    std::string first;
    std::string renewed;
    long status;
    int renewals;
  };
  const Case cases[] = {
      {"a stale token renewed", "stale-token", "good-token", 200, 1},
      {"refused after the renewal too", "stale-token", "other-bad-token", 401, 1},
      {"a good token", "good-token", "unused", 200, 0},
  };
  for (const Case& c : cases) {
    std::string current = c.first;
    int renew_calls = 0;
    GraphConnection connection(Options(), [&](bool renew) {
      if (renew) {
        ++renew_calls;
        current = c.renewed;
      }
      return current;
    });
    for (int i = 1; i <= 4; ++i) connection.Start(ValueRequest(i));
    for (int i = 1; i <= 4; ++i) {
      const GraphReply reply = connection.WaitForAny();
      EXPECT_EQ(reply.status, c.status) << c.name;
      if (reply.status == 401) {
        EXPECT_NE(reply.body.find("InvalidAuthenticationToken"), std::string::npos) << reply.body;
      }
    }
    EXPECT_EQ(renew_calls, c.renewals) << c.name;
    EXPECT_EQ(connection.stats().renewals, static_cast<std::uint64_t>(c.renewals)) << c.name;
  }
}

TEST_F(GraphConnectionTest, A401FromTheServerForAGoodTokenRenewsAndRetries) {
  int renew_calls = 0;
  GraphConnection connection(Options(), [&](bool renew) {
    renew_calls += renew ? 1 : 0;
    return std::string("good-token");
  });
  server_->Fail("/$value", 1, 401, "InvalidAuthenticationToken");
  EXPECT_EQ(connection.Call(ValueRequest(1)).status, 200);
  EXPECT_EQ(renew_calls, 1);
  EXPECT_EQ(connection.stats().requests, 2u);
}

TEST_F(GraphConnectionTest, ACancelEndsTheWaitForASlowServerAtOnce) {
  Cancellation cancel;
  auto connection = Connect(Options(), &cancel);
  server_->SetDelay(5s);
  for (int i = 1; i <= 3; ++i) connection->Start(ValueRequest(i));
  std::thread canceller([&] {
    std::this_thread::sleep_for(300ms);
    cancel.Request();
  });
  const Clock::time_point start = Clock::now();
  const CaughtFailure failure = FailureOf([&] { connection->WaitForAny(); });
  const auto elapsed = Clock::now() - start;
  canceller.join();
  EXPECT_EQ(failure.cause, Cause::kCancelled) << failure.text;
  EXPECT_LT(elapsed, 1s);
}

// The server says nothing for longer than `idle`: each attempt is given up
// as stalled, and after its attempts the request fails.
TEST_F(GraphConnectionTest, AStalledServerIsGivenUpAfterItsAttempts) {
  GraphConnectionOptions options = Options();
  options.timeouts.idle = 1s;
  options.max_attempts = 2;
  auto connection = Connect(options);
  server_->SetDelay(4s);
  const Clock::time_point start = Clock::now();
  const CaughtFailure failure = FailureOf([&] { connection->Call(ValueRequest(1)); });
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(failure.cause, Cause::kMailServer) << failure.text;
  EXPECT_NE(failure.text.find("after 2 attempts"), std::string::npos) << failure.text;
  // Two stalls of about 1 s and the backoff of 1 s between them.
  EXPECT_GE(elapsed, 2s);
  EXPECT_LT(elapsed, 4s);
  EXPECT_EQ(connection->stats().requests, 2u);
}

TEST_F(GraphConnectionTest, ABodyPastItsBoundFails) {
  auto connection = Connect(Options());
  GraphRequest request = ValueRequest(0);
  request.max_body = 100'000;
  const CaughtFailure failure = FailureOf([&] { connection->Call(request); });
  EXPECT_EQ(failure.cause, Cause::kMailServer);
  EXPECT_NE(failure.text.find("larger than 100000 bytes"), std::string::npos) << failure.text;
}

TEST_F(GraphConnectionTest, RefusesAnUnknownCaAndAnAddressNobodyListensAt) {
  struct Case {
    const char* name;
    std::string ca_pem;
    std::string url;
    Cause cause;
  };
  const std::string own_url = ValueUrl(1);
  const Case cases[] = {
      {"the system's CAs alone", "", own_url, Cause::kServerNotTrusted},
      {"another CA", "-----BEGIN CERTIFICATE-----\nnot one\n-----END CERTIFICATE-----\n", own_url,
       Cause::kServerNotTrusted},
      {"nothing listening", server_->CaPem(),
       // Port 1: a port freed by this test could be taken by another's server.
       "https://127.0.0.1:1/v1.0/me", Cause::kServerUnreachable},
  };
  for (const Case& c : cases) {
    GraphConnectionOptions options = Options();
    options.ca_pem = c.ca_pem;
    auto connection = Connect(options);
    GraphRequest request;
    request.url = c.url;
    const CaughtFailure failure = FailureOf([&] { connection->Call(request); });
    EXPECT_EQ(failure.cause, c.cause) << c.name << ": " << failure.text;
  }
}

TEST_F(GraphConnectionTest, RefusesAddressesThatAreNotHttpsAtStart) {
  const std::string refused[] = {"http://graph.microsoft.com/v1.0/me", "ftp://127.0.0.1/v1.0/me",
                                 "graph.microsoft.com/v1.0/me", ""};
  auto connection = Connect(Options());
  for (const std::string& url : refused) {
    GraphRequest request;
    request.url = url;
    EXPECT_EQ(FailureOf([&] { connection->Start(request); }).cause, Cause::kNoMailbox) << url;
  }
  EXPECT_EQ(connection->Pending(), 0u);
}

}  // namespace
}  // namespace qm
