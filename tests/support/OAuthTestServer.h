#pragma once
// An OAuth 2.0 authorization server for tests, on 127.0.0.1 at a free port,
// on a thread of its own, stopped in the destructor. It serves
//   GET  /authorize   consents at once: redirects to redirect_uri with a code
//                     and the state (or a wrong state, when told to)
//   POST /token       authorization_code (PKCE S256 checked), refresh_token,
//                     device_code grants
//   POST /device      device authorization
//   POST /introspect  what Dovecot's oauth2 passdb asks (RFC 7662)
// Access tokens live for a short, chosen time; refresh tokens can be revoked.
// It counts what it was asked, for the tests to check.

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/TcpRelay.h"

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

  OAuthTestServer() : stop_(::eventfd(0, EFD_CLOEXEC)) {
    listener_ = OwnedFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 16) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("the test authorization server cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~OAuthTestServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(stop_.get(), &one, sizeof one);
    thread_.join();
  }
  OAuthTestServer(const OAuthTestServer&) = delete;
  OAuthTestServer& operator=(const OAuthTestServer&) = delete;

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  // How long new access tokens live.
  void SetAccessLifetime(std::chrono::seconds lifetime) {
    const std::lock_guard lock(mutex_);
    access_lifetime_ = lifetime;
  }
  // The next redirects carry this state instead of the client's.
  void SetWrongState(const std::string& state) {
    const std::lock_guard lock(mutex_);
    wrong_state_ = state;
  }
  // The answers of the next device-code polls, in order ("authorization_pending",
  // "slow_down", "expired_token", "access_denied"); once used up, polls succeed.
  void ScriptDevicePolls(std::deque<std::string> errors) {
    const std::lock_guard lock(mutex_);
    device_script_ = std::move(errors);
  }
  void SetDeviceInterval(int seconds) {
    const std::lock_guard lock(mutex_);
    device_interval_ = seconds;
  }
  // Every refresh token issued so far is refused from now on.
  void RevokeRefreshTokens() {
    const std::lock_guard lock(mutex_);
    refresh_tokens_.clear();
  }
  // A refresh token, as an earlier sign-in would have left it.
  std::string IssueRefreshToken() {
    const std::lock_guard lock(mutex_);
    return NewRefreshToken();
  }
  // An access token Dovecot accepts for `lifetime`.
  std::string IssueAccessToken(std::chrono::seconds lifetime) {
    const std::lock_guard lock(mutex_);
    const std::string token = "at-" + Random();
    access_tokens_[token] = std::chrono::steady_clock::now() + lifetime;
    return token;
  }
  Counts counts() const {
    const std::lock_guard lock(mutex_);
    return counts_;
  }
  // The fields of the last request to `path`.
  std::map<std::string, std::string> LastFields(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    const auto found = last_fields_.find(path);
    return found == last_fields_.end() ? std::map<std::string, std::string>() : found->second;
  }

  // base64url(SHA-256(verifier)), computed here on its own.
  static std::string S256(const std::string& verifier) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr);
    unsigned char text[64];
    const int size = EVP_EncodeBlock(text, digest, static_cast<int>(length));
    std::string encoded(reinterpret_cast<char*>(text), static_cast<std::size_t>(size));
    encoded.erase(encoded.find_last_not_of('=') + 1);
    for (char& c : encoded) c = c == '+' ? '-' : c == '/' ? '_' : c;
    return encoded;
  }

  static std::map<std::string, std::string> Decode(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::size_t begin = 0;
    while (begin < text.size()) {
      std::size_t end = text.find('&', begin);
      if (end == std::string::npos) end = text.size();
      const std::string field = text.substr(begin, end - begin);
      const std::size_t equals = field.find('=');
      if (equals != std::string::npos) {
        fields[Unescape(field.substr(0, equals))] = Unescape(field.substr(equals + 1));
      }
      begin = end + 1;
    }
    return fields;
  }

 private:
  struct PendingCode {
    std::string challenge;
    std::string redirect_uri;
  };
  struct Reply {
    int status = 200;
    std::string body;
    std::string location;
  };
  using Json = nlohmann::json;

  static std::string Unescape(std::string text) {
    std::replace(text.begin(), text.end(), '+', ' ');
    int length = 0;
    char* plain = curl_easy_unescape(nullptr, text.data(), static_cast<int>(text.size()), &length);
    std::string result(plain, static_cast<std::size_t>(length));
    curl_free(plain);
    return result;
  }
  static std::string Escape(const std::string& text) {
    char* escaped = curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size()));
    std::string result(escaped);
    curl_free(escaped);
    return result;
  }

  static std::string Random() {
    unsigned char bytes[12];
    RAND_bytes(bytes, sizeof bytes);
    std::string hex;
    for (unsigned char b : bytes) {
      static constexpr char kHex[] = "0123456789abcdef";
      hex += kHex[b >> 4];
      hex += kHex[b & 15];
    }
    return hex;
  }

  std::string NewRefreshToken() {
    const std::string token = "rt-" + Random();
    refresh_tokens_.insert(token);
    return token;
  }

  Json NewTokens(bool with_refresh) {
    const std::string access = "at-" + Random();
    access_tokens_[access] = std::chrono::steady_clock::now() + access_lifetime_;
    Json answer = {{"access_token", access},
                   {"token_type", "Bearer"},
                   {"expires_in", access_lifetime_.count()}};
    if (with_refresh) answer["refresh_token"] = NewRefreshToken();
    return answer;
  }

  static Reply Error(const std::string& code) {
    return {400, Json{{"error", code}, {"error_description", "test server: " + code}}.dump(), ""};
  }

  void Serve() {
    for (;;) {
      pollfd ready[2] = {{listener_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
      if (::poll(ready, 2, -1) < 0) continue;
      if (ready[1].revents != 0) return;
      OwnedFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client.valid()) ServeOne(client.get());
    }
  }

  // One request per connection, with Content-Length bodies.
  void ServeOne(int client) {
    std::string request;
    char buffer[4096];
    std::size_t head_end = std::string::npos;
    std::size_t wanted = 0;
    timeval limit{5, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    for (;;) {
      if (head_end == std::string::npos &&
          (head_end = request.find("\r\n\r\n")) != std::string::npos) {
        head_end += 4;
        const std::size_t at = Lower(request).find("content-length:");
        wanted = at == std::string::npos ? 0 : std::stoul(request.substr(at + 15));
      }
      if (head_end != std::string::npos && request.size() >= head_end + wanted) break;
      const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::string line = request.substr(0, request.find("\r\n"));
    const std::string target =
        line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);
    const std::string path = target.substr(0, target.find('?'));
    const std::string query =
        target.find('?') == std::string::npos ? "" : target.substr(target.find('?') + 1);
    const Reply reply =
        Route(line.starts_with("POST") ? request.substr(head_end, wanted) : query, path);
    std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " X\r\nConnection: close\r\n";
    if (!reply.location.empty()) text += "Location: " + reply.location + "\r\n";
    text +=
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(reply.body.size()) +
        "\r\n\r\n" + reply.body;
    ::send(client, text.data(), text.size(), MSG_NOSIGNAL);
  }

  static std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return text;
  }

  Reply Route(const std::string& form, const std::string& path) {
    const std::lock_guard lock(mutex_);
    const auto fields = Decode(form);
    last_fields_[path] = fields;
    if (path == "/authorize") return Authorize(fields);
    if (path == "/token") return Token(fields);
    if (path == "/device") return Device(fields);
    if (path == "/introspect") return Introspect(fields);
    return {404, "{}", ""};
  }

  static std::string Field(const std::map<std::string, std::string>& fields, const char* name) {
    const auto found = fields.find(name);
    return found == fields.end() ? "" : found->second;
  }

  Reply Authorize(const std::map<std::string, std::string>& f) {
    ++counts_.authorize;
    if (Field(f, "client_id") != kClientId || Field(f, "response_type") != "code" ||
        Field(f, "code_challenge_method") != "S256" || Field(f, "code_challenge").empty()) {
      return Error("invalid_request");
    }
    const std::string code = "code-" + Random();
    codes_[code] = {Field(f, "code_challenge"), Field(f, "redirect_uri")};
    const std::string state = wrong_state_.empty() ? Field(f, "state") : wrong_state_;
    return {302, "{}",
            Field(f, "redirect_uri") + "?code=" + Escape(code) + "&state=" + Escape(state)};
  }

  Reply Token(const std::map<std::string, std::string>& f) {
    if (Field(f, "client_id") != kClientId) return Error("invalid_client");
    const std::string grant = Field(f, "grant_type");
    if (grant == "authorization_code") {
      ++counts_.code_grants;
      const auto found = codes_.find(Field(f, "code"));
      if (found == codes_.end()) return Error("invalid_grant");
      const PendingCode pending = found->second;
      codes_.erase(found);  // a code is good once
      if (pending.redirect_uri != Field(f, "redirect_uri") ||
          S256(Field(f, "code_verifier")) != pending.challenge) {
        return Error("invalid_grant");
      }
      return {200, NewTokens(true).dump(), ""};
    }
    if (grant == "refresh_token") {
      ++counts_.refresh_grants;
      if (refresh_tokens_.count(Field(f, "refresh_token")) == 0) return Error("invalid_grant");
      return {200, NewTokens(false).dump(), ""};
    }
    if (grant == "urn:ietf:params:oauth:grant-type:device_code") {
      ++counts_.device_grants;
      if (Field(f, "device_code") != device_code_) return Error("invalid_grant");
      if (!device_script_.empty()) {
        const std::string next = device_script_.front();
        device_script_.pop_front();
        return Error(next);
      }
      return {200, NewTokens(true).dump(), ""};
    }
    return Error("unsupported_grant_type");
  }

  Reply Device(const std::map<std::string, std::string>& f) {
    if (Field(f, "client_id") != kClientId) return Error("invalid_client");
    device_code_ = "dc-" + Random();
    return {200,
            Json{{"device_code", device_code_},
                 {"user_code", "WDJB-MJHT"},
                 {"verification_uri", Url("/activate")},
                 {"expires_in", 600},
                 {"interval", device_interval_}}
                .dump(),
            ""};
  }

  Reply Introspect(const std::map<std::string, std::string>& f) {
    ++counts_.introspections;
    const auto found = access_tokens_.find(Field(f, "token"));
    if (found == access_tokens_.end() || found->second < std::chrono::steady_clock::now()) {
      ++counts_.refused_introspections;
      return {200, Json{{"active", false}}.dump(), ""};
    }
    return {200, Json{{"active", true}, {"username", kUser}}.dump(), ""};
  }

  OwnedFd stop_;
  OwnedFd listener_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::chrono::seconds access_lifetime_{3600};
  std::string wrong_state_;
  std::deque<std::string> device_script_;
  int device_interval_ = 1;
  std::string device_code_;
  std::map<std::string, PendingCode> codes_;
  std::set<std::string> refresh_tokens_;
  std::map<std::string, std::chrono::steady_clock::time_point> access_tokens_;
  std::map<std::string, std::map<std::string, std::string>> last_fields_;
  Counts counts_;
  std::thread thread_;
};

}  // namespace qm::testing
