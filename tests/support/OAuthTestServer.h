#pragma once
// An OAuth 2.0 authorization server for tests, on 127.0.0.1 at a free port,
// on a thread of its own, stopped in the destructor. It serves
//   GET  /authorize   consents at once: redirects to redirect_uri with a code
//                     and the state (or a wrong state, when told to)
//   POST /token       authorization_code (PKCE S256 checked), refresh_token,
//                     device_code grants
//   POST /device      device authorization
//   POST /introspect  what Dovecot's oauth2 passdb and the Graph test server
//                     ask (RFC 7662), with the token's scope
// Access tokens live for a short, chosen time and carry the scope that was
// asked for when they were granted (a refresh keeps the first grant's scope);
// refresh tokens can be revoked.
// It counts what it was asked, for the tests to check.

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "base/UniqueFd.h"

namespace qm::testing {

class OAuthTestServer {
 public:
  static constexpr char kClientId[] = "quillmar-test-client";
  static constexpr char kUser[] = "tester";

  struct Counts {
    int authorize = 0;
    int code_grants = 0;
    int refresh_grants = 0;
    int device_grants = 0;
    int introspections = 0;
    int refused_introspections = 0;
  };

  OAuthTestServer();
  ~OAuthTestServer();
  OAuthTestServer(const OAuthTestServer&) = delete;
  OAuthTestServer& operator=(const OAuthTestServer&) = delete;

  std::string Url(const std::string& path) const;

  // How long new access tokens live.
  void SetAccessLifetime(std::chrono::seconds lifetime);
  // The next redirects carry this state instead of the client's.
  void SetWrongState(const std::string& state);
  // The answers of the next device-code polls, in order ("authorization_pending",
  // "slow_down", "expired_token", "access_denied"); once used up, polls succeed.
  void ScriptDevicePolls(std::deque<std::string> errors);
  void SetDeviceInterval(int seconds);
  // Every refresh token issued so far is refused from now on.
  void RevokeRefreshTokens();
  // A refresh token, as an earlier sign-in for `scope` would have left it.
  std::string IssueRefreshToken(const std::string& scope = "");
  // An access token Dovecot accepts for `lifetime`, granted for `scope`.
  std::string IssueAccessToken(std::chrono::seconds lifetime, const std::string& scope = "");
  Counts counts() const;
  // The fields of the last request to `path`.
  std::map<std::string, std::string> LastFields(const std::string& path) const;

  // base64url(SHA-256(verifier)), computed here on its own.
  static std::string S256(const std::string& verifier);
  // The fields of a form (application/x-www-form-urlencoded) or a query.
  static std::map<std::string, std::string> Decode(const std::string& text);

 private:
  struct PendingCode {
    std::string challenge;
    std::string redirect_uri;
    std::string scope;
  };
  struct AccessToken {
    std::chrono::steady_clock::time_point expires;
    std::string scope;
  };
  struct Reply;
  using Fields = std::map<std::string, std::string>;

  static Reply Error(const std::string& code);
  std::string NewRefreshToken(const std::string& scope);
  std::string NewTokens(bool with_refresh, const std::string& scope);
  void Serve();
  // One request per connection, with Content-Length bodies.
  void ServeOne(int client);
  Reply Route(const std::string& form, const std::string& path);
  Reply Authorize(const Fields& f);
  Reply Token(const Fields& f);
  Reply Device(const Fields& f);
  Reply Introspect(const Fields& f);

  UniqueFd stop_;
  UniqueFd listener_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::chrono::seconds access_lifetime_{3600};
  std::string wrong_state_;
  std::deque<std::string> device_script_;
  int device_interval_ = 1;
  std::string device_code_;
  std::string device_scope_;
  std::map<std::string, PendingCode> codes_;
  std::map<std::string, std::string> refresh_tokens_;  // token -> scope
  std::map<std::string, AccessToken> access_tokens_;
  std::map<std::string, Fields> last_fields_;
  Counts counts_;
  std::thread thread_;
};

}  // namespace qm::testing
