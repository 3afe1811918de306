// The sign-in flows against the test authorization server on 127.0.0.1: the
// browser sign-in driven by a test "browser" that follows the redirects, a
// redirect with a wrong state, the loopback listener's limits and strays, the device
// grant with its pending and slow-down answers, and the refresh.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <deque>
#include <future>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "oauth/AuthorizationCodeFlow.h"
#include "oauth/DeviceFlow.h"
#include "oauth/LoopbackListener.h"
#include "oauth/TokenRefresh.h"
#include "tests/support/OAuthTestServer.h"
#include "tests/support/TestBrowser.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using testing::OAuthTestServer;
using testing::TestBrowser;

class OAuthFlow : public ::testing::Test {
 protected:
  OAuthEndpoints Endpoints() const {
    return {server_.Url("/authorize"), server_.Url("/token"), server_.Url("/device"),
            "https://mail.google.com/"};
  }
  const OAuthClient client_{OAuthTestServer::kClientId, ""};
  OAuthTestServer server_;
};

TEST_F(OAuthFlow, BrowserSignInFollowsTheRedirectAndExchangesTheCode) {
  TestBrowser browser;
  std::string opened;
  const TokenSet tokens = SignInWithBrowser(
      Endpoints(), client_, "tester@example.com",
      [&](const std::string& url) {
        opened = url;
        return browser.Open(url);
      },
      10s);
  EXPECT_FALSE(tokens.access_token.empty());
  EXPECT_FALSE(tokens.refresh_token.empty());
  EXPECT_GT(tokens.expires_at, WallClock::now());
  EXPECT_EQ(server_.counts().code_grants, 1);
  const auto asked = server_.LastFields("/authorize");
  EXPECT_EQ(asked.at("login_hint"), "tester@example.com");
  EXPECT_EQ(asked.at("scope"), "https://mail.google.com/");
  EXPECT_EQ(asked.at("redirect_uri").rfind("http://127.0.0.1:", 0), 0u);
  EXPECT_GE(asked.at("state").size(), 32u);
  const auto exchanged = server_.LastFields("/token");
  EXPECT_EQ(OAuthTestServer::S256(exchanged.at("code_verifier")), asked.at("code_challenge"));
  EXPECT_EQ(opened.find(exchanged.at("code_verifier")), std::string::npos)
      << "the verifier must not travel through the browser";
}

// A redirect with another state is not this sign-in's: it is turned away
// and the wait goes on, here until its limit, which then says so.
TEST_F(OAuthFlow, RedirectWithAnotherStateIsTurnedAwayAndNoCodeIsExchanged) {
  server_.SetWrongState("forged-state");
  TestBrowser browser;
  try {
    SignInWithBrowser(
        Endpoints(), client_, "", [&](const std::string& url) { return browser.Open(url); }, 2s);
    FAIL() << "a redirect with a wrong state was accepted";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::SignOn);
    EXPECT_NE(std::string(failure.what()).find("in time"), std::string::npos) << failure.what();
    EXPECT_NE(std::string(failure.what()).find("1 request(s) without this sign-in's state"),
              std::string::npos)
        << failure.what();
  }
  EXPECT_EQ(server_.counts().authorize, 1);
  EXPECT_EQ(server_.counts().code_grants, 0);
}

TEST_F(OAuthFlow, BrowserThatCannotOpenOrNeverComesBack) {
  EXPECT_THROW(SignInWithBrowser(
                   Endpoints(), client_, "", [](const std::string&) { return false; }, 10s),
               Failure);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(SignInWithBrowser(
                   Endpoints(), client_, "", [](const std::string&) { return true; }, 300ms),
               Failure);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

// The user cancels once the browser is open, while the sign-in waits for it.
TEST_F(OAuthFlow, CancelEndsTheWaitForTheBrowser) {
  Cancellation cancel;
  const auto open_then_cancel = [&](const std::string&) {
    cancel.Request();
    return true;
  };
  const auto started = std::chrono::steady_clock::now();
  try {
    SignInWithBrowser(Endpoints(), client_, "", open_then_cancel, 60s, &cancel);
    ADD_FAILURE() << "not cancelled";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.cause(), Cause::kCancelled);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
}

// A connection to the listener; -1 when it cannot be made.
int Connect(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return s;
  ::close(s);
  return -1;
}

// Sends `request` to the listener and returns its answer, what came of it
// within `wait`.
std::string Ask(int port, const std::string& request, std::chrono::seconds wait = 30s) {
  const int s = Connect(port);
  if (s < 0) return "";
  const timeval limit{static_cast<time_t>(wait.count()), 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  for (ssize_t got; (got = ::recv(s, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, got);
  ::close(s);
  return answer;
}

TEST(LoopbackListener, OtherRequestsAreAnsweredAndTheRedirectStillCounts) {
  LoopbackListener listener;
  std::future<std::string> code =
      std::async(std::launch::async, [&] { return listener.WaitForCode("s1", 10s); });
  const struct {
    const char* name;
    std::string request;
    const char* status;
  } others[] = {
      {"Icon", "GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n", "404"},
      {"Post", "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "404"},
      {"Oversized", "GET /?" + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n", ""},
      {"NoBlankLine", "GET /?code=c&state=s1 HTTP/1.1\r\n", ""},
  };
  for (const auto& other : others) {
    const std::string answer = Ask(listener.port(), other.request);
    const std::string expected =
        *other.status != '\0' ? std::string("HTTP/1.1 ") + other.status : "";
    EXPECT_EQ(answer.substr(0, 12), expected) << other.name;
  }
  const std::string answer =
      Ask(listener.port(), "GET /?code=the%2Bcode&state=s1 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
  EXPECT_EQ(code.get(), "the+code");
}

TEST(LoopbackListener, RefusalsOfTheProviderAndMissingCode) {
  const struct {
    const char* name;
    const char* query;
  } cases[] = {
      {"Denied", "error=access_denied&state=s1"},
      {"NoCode", "state=s1"},
  };
  for (const auto& c : cases) {
    LoopbackListener listener;
    std::future<std::string> code =
        std::async(std::launch::async, [&] { return listener.WaitForCode("s1", 10s); });
    const std::string answer =
        Ask(listener.port(), std::string("GET /?") + c.query + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << c.name;
    EXPECT_THROW(code.get(), Failure) << c.name;
  }
}

// Any process on this machine can reach the listener. Idle connections (more
// than the listener reads at once, one with a request cut short) and requests
// without this sign-in's state (a plain curl of "/", a forged or empty state,
// an error without state) are left alone or answered and never end the
// sign-in; the browser's redirect that follows is answered before an idle
// connection's own five seconds are up, and its code counts.
TEST(LoopbackListener, StrayAndIdleConnectionsNeverStopTheSignIn) {
  const char* const strays[] = {"/", "/?code=evil&state=s2",
                                "/?code=evil&state=", "/?error=access_denied", "/?code=evil"};
  const struct {
    const char* name;
    int idle;
    bool strays;
  } cases[] = {{"Idle", 20, false}, {"Strays", 0, true}, {"Both", 20, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackListener listener;
    std::future<std::string> code =
        std::async(std::launch::async, [&] { return listener.WaitForCode("s1", 20s); });
    std::vector<int> idle;
    for (int i = 0; i < c.idle; ++i) idle.push_back(Connect(listener.port()));
    if (!idle.empty()) {
      const std::string cut_short = "GET /?code=c&state=s1 HTTP/1.1\r\n";
      ::send(idle.back(), cut_short.data(), cut_short.size(), MSG_NOSIGNAL);
    }
    for (const char* stray : c.strays ? strays : std::span<const char* const>()) {
      const std::string answer =
          Ask(listener.port(), std::string("GET ") + stray + " HTTP/1.1\r\n\r\n", 4s);
      EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << stray << ": " << answer;
    }
    const std::string answer =
        Ask(listener.port(), "GET /?code=the-code&state=s1 HTTP/1.1\r\n\r\n", 4s);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    EXPECT_EQ(code.get(), "the-code");
    for (int s : idle) ::close(s);
  }
}

// The waits of a device sign-in, recorded instead of slept.
struct RecordedWaits {
  std::vector<std::chrono::seconds> waits;
  PollWait Wait() {
    return [this](std::chrono::seconds interval) { waits.push_back(interval); };
  }
};

TEST_F(OAuthFlow, DeviceSignInWaitsWhilePendingAndSlowsDownWhenTold) {
  server_.SetDeviceInterval(2);
  server_.ScriptDevicePolls({"authorization_pending", "slow_down", "authorization_pending"});
  const DeviceCode code = StartDeviceAuthorization(Endpoints(), client_);
  EXPECT_EQ(code.user_code, "WDJB-MJHT");
  EXPECT_EQ(code.verification_uri, server_.Url("/activate"));
  EXPECT_EQ(server_.LastFields("/device").at("scope"), "https://mail.google.com/");
  RecordedWaits recorded;
  const TokenSet tokens = WaitForDeviceSignIn(Endpoints(), client_, code, recorded.Wait());
  EXPECT_FALSE(tokens.refresh_token.empty());
  EXPECT_EQ(server_.counts().device_grants, 4);
  EXPECT_EQ(recorded.waits, (std::vector<std::chrono::seconds>{2s, 2s, 7s, 7s}));
}

TEST_F(OAuthFlow, DeviceSignInEndsOnRefusalExpiryAndCancel) {
  const struct {
    const char* name;
    std::deque<std::string> script;
    const char* words;
  } cases[] = {
      {"Expired", {"authorization_pending", "expired_token"}, "expired"},
      {"Denied", {"access_denied"}, "refused"},
      {"Other", {"invalid_client"}, "invalid_client"},
  };
  for (const auto& c : cases) {
    server_.ScriptDevicePolls(c.script);
    const DeviceCode code = StartDeviceAuthorization(Endpoints(), client_);
    RecordedWaits recorded;
    try {
      WaitForDeviceSignIn(Endpoints(), client_, code, recorded.Wait());
      ADD_FAILURE() << c.name << " signed in";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::SignOn) << c.name;
      EXPECT_NE(std::string(failure.what()).find(c.words), std::string::npos) << failure.what();
    }
    EXPECT_EQ(recorded.waits.size(), c.script.size()) << c.name;
  }

  // Pending for ever: the code's own lifetime (600 s) ends the polling.
  server_.ScriptDevicePolls(std::deque<std::string>(1000, "authorization_pending"));
  const DeviceCode code = StartDeviceAuthorization(Endpoints(), client_);
  RecordedWaits recorded;
  EXPECT_THROW(WaitForDeviceSignIn(Endpoints(), client_, code, recorded.Wait()), Failure);
  EXPECT_EQ(recorded.waits.size(), 600u);

  Cancellation cancel;
  cancel.Request();
  try {
    WaitForDeviceSignIn(Endpoints(), client_, code, CancellableWait(&cancel), &cancel);
    ADD_FAILURE() << "not cancelled";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.cause(), Cause::kCancelled);
  }
}

TEST_F(OAuthFlow, RefreshKeepsTheOldRefreshTokenAndARevokedOneIsRefusedOnce) {
  const std::string refresh_token = server_.IssueRefreshToken();
  const TokenSet renewed = RefreshTokens(Endpoints(), client_, refresh_token);
  EXPECT_FALSE(renewed.access_token.empty());
  EXPECT_EQ(renewed.refresh_token, refresh_token);

  server_.RevokeRefreshTokens();
  try {
    RefreshTokens(Endpoints(), client_, refresh_token);
    FAIL() << "a revoked refresh token was accepted";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::SignOn);
    EXPECT_EQ(failure.cause(), Cause::kSignInRefused);
    EXPECT_NE(std::string(failure.what()).find("sign in again"), std::string::npos);
    EXPECT_EQ(std::string(failure.what()).find(refresh_token), std::string::npos);
  }
  EXPECT_EQ(server_.counts().refresh_grants, 2);

  const OAuthClient stranger{"someone-else", ""};
  try {
    RefreshTokens(Endpoints(), stranger, refresh_token);
    FAIL() << "an unknown client was accepted";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.cause(), Cause::kLoginRefused);
  }
}

TEST(OAuthEndpoint, UnreachableServerIsASignOnFailure) {
  const OAuthEndpoints nowhere{"http://127.0.0.1:1/a", "http://127.0.0.1:1/t",
                               "http://127.0.0.1:1/d", ""};
  try {
    RefreshTokens(nowhere, {"id", ""}, "rt");
    FAIL();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::SignOn);
    EXPECT_EQ(failure.cause(), Cause::kLoginRefused);
  }
}

}  // namespace
}  // namespace qm
