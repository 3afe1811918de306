#include "tests/support/OAuthTestServer.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "tests/support/LoopbackSocket.h"

namespace qm::testing {

struct OAuthTestServer::Reply {
  int status = 200;
  std::string body;
  std::string location;
};

namespace {

using Json = nlohmann::json;
using Fields = std::map<std::string, std::string>;

std::string Unescape(std::string text) {
  std::replace(text.begin(), text.end(), '+', ' ');
  int length = 0;
  char* plain = curl_easy_unescape(nullptr, text.data(), static_cast<int>(text.size()), &length);
  std::string result(plain, static_cast<std::size_t>(length));
  curl_free(plain);
  return result;
}

std::string Escape(const std::string& text) {
  char* escaped = curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size()));
  std::string result(escaped);
  curl_free(escaped);
  return result;
}

std::string Random() {
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

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Field(const Fields& fields, const char* name) {
  const auto found = fields.find(name);
  return found == fields.end() ? "" : found->second;
}

}  // namespace

OAuthTestServer::OAuthTestServer() : stop_(::eventfd(0, EFD_CLOEXEC)) {
  listener_ = ListenOnLoopback(port_);
  thread_ = std::thread([this] { Serve(); });
}

OAuthTestServer::~OAuthTestServer() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(stop_.get(), &one, sizeof one);
  thread_.join();
}

std::string OAuthTestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void OAuthTestServer::SetAccessLifetime(std::chrono::seconds lifetime) {
  const std::lock_guard lock(mutex_);
  access_lifetime_ = lifetime;
}

void OAuthTestServer::SetWrongState(const std::string& state) {
  const std::lock_guard lock(mutex_);
  wrong_state_ = state;
}

void OAuthTestServer::ScriptDevicePolls(std::deque<std::string> errors) {
  const std::lock_guard lock(mutex_);
  device_script_ = std::move(errors);
}

void OAuthTestServer::SetDeviceInterval(int seconds) {
  const std::lock_guard lock(mutex_);
  device_interval_ = seconds;
}

void OAuthTestServer::RevokeRefreshTokens() {
  const std::lock_guard lock(mutex_);
  refresh_tokens_.clear();
}

std::string OAuthTestServer::IssueRefreshToken(const std::string& scope) {
  const std::lock_guard lock(mutex_);
  return NewRefreshToken(scope);
}

std::string OAuthTestServer::IssueAccessToken(std::chrono::seconds lifetime,
                                              const std::string& scope) {
  const std::lock_guard lock(mutex_);
  const std::string token = "at-" + Random();
  access_tokens_[token] = {std::chrono::steady_clock::now() + lifetime, scope};
  return token;
}

OAuthTestServer::Counts OAuthTestServer::counts() const {
  const std::lock_guard lock(mutex_);
  return counts_;
}

Fields OAuthTestServer::LastFields(const std::string& path) const {
  const std::lock_guard lock(mutex_);
  const auto found = last_fields_.find(path);
  return found == last_fields_.end() ? Fields() : found->second;
}

std::string OAuthTestServer::S256(const std::string& verifier) {
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

Fields OAuthTestServer::Decode(const std::string& text) {
  Fields fields;
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

std::string OAuthTestServer::NewRefreshToken(const std::string& scope) {
  const std::string token = "rt-" + Random();
  refresh_tokens_[token] = scope;
  return token;
}

std::string OAuthTestServer::NewTokens(bool with_refresh, const std::string& scope) {
  const std::string access = "at-" + Random();
  access_tokens_[access] = {std::chrono::steady_clock::now() + access_lifetime_, scope};
  Json answer = {
      {"access_token", access}, {"token_type", "Bearer"}, {"expires_in", access_lifetime_.count()}};
  if (with_refresh) answer["refresh_token"] = NewRefreshToken(scope);
  return answer.dump();
}

OAuthTestServer::Reply OAuthTestServer::Error(const std::string& code) {
  return {400, Json{{"error", code}, {"error_description", "test server: " + code}}.dump(), ""};
}

void OAuthTestServer::Serve() {
  for (;;) {
    pollfd ready[2] = {{listener_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
    if (::poll(ready, 2, -1) < 0) continue;
    if (ready[1].revents != 0) return;
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.valid()) ServeOne(client.get());
  }
}

void OAuthTestServer::ServeOne(int client) {
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
  const std::string target = line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);
  const std::string path = target.substr(0, target.find('?'));
  const std::string query =
      target.find('?') == std::string::npos ? "" : target.substr(target.find('?') + 1);
  const Reply reply =
      Route(line.starts_with("POST") ? request.substr(head_end, wanted) : query, path);
  std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " X\r\nConnection: close\r\n";
  if (!reply.location.empty()) text += "Location: " + reply.location + "\r\n";
  text += "Content-Type: application/json\r\nContent-Length: " + std::to_string(reply.body.size()) +
          "\r\n\r\n" + reply.body;
  ::send(client, text.data(), text.size(), MSG_NOSIGNAL);
}

OAuthTestServer::Reply OAuthTestServer::Route(const std::string& form, const std::string& path) {
  const std::lock_guard lock(mutex_);
  const auto fields = Decode(form);
  last_fields_[path] = fields;
  if (path == "/authorize") return Authorize(fields);
  if (path == "/token") return Token(fields);
  if (path == "/device") return Device(fields);
  if (path == "/introspect") return Introspect(fields);
  return {404, "{}", ""};
}

OAuthTestServer::Reply OAuthTestServer::Authorize(const Fields& f) {
  ++counts_.authorize;
  if (Field(f, "client_id") != kClientId || Field(f, "response_type") != "code" ||
      Field(f, "code_challenge_method") != "S256" || Field(f, "code_challenge").empty()) {
    return Error("invalid_request");
  }
  const std::string code = "code-" + Random();
  codes_[code] = {Field(f, "code_challenge"), Field(f, "redirect_uri"), Field(f, "scope")};
  const std::string state = wrong_state_.empty() ? Field(f, "state") : wrong_state_;
  return {302, "{}",
          Field(f, "redirect_uri") + "?code=" + Escape(code) + "&state=" + Escape(state)};
}

OAuthTestServer::Reply OAuthTestServer::Token(const Fields& f) {
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
    return {200, NewTokens(true, pending.scope), ""};
  }
  if (grant == "refresh_token") {
    ++counts_.refresh_grants;
    const auto found = refresh_tokens_.find(Field(f, "refresh_token"));
    if (found == refresh_tokens_.end()) return Error("invalid_grant");
    return {200, NewTokens(false, found->second), ""};
  }
  if (grant == "urn:ietf:params:oauth:grant-type:device_code") {
    ++counts_.device_grants;
    if (Field(f, "device_code") != device_code_) return Error("invalid_grant");
    if (!device_script_.empty()) {
      const std::string next = device_script_.front();
      device_script_.pop_front();
      return Error(next);
    }
    return {200, NewTokens(true, device_scope_), ""};
  }
  return Error("unsupported_grant_type");
}

OAuthTestServer::Reply OAuthTestServer::Device(const Fields& f) {
  if (Field(f, "client_id") != kClientId) return Error("invalid_client");
  device_code_ = "dc-" + Random();
  device_scope_ = Field(f, "scope");
  return {200,
          Json{{"device_code", device_code_},
               {"user_code", "WDJB-MJHT"},
               {"verification_uri", Url("/activate")},
               {"expires_in", 600},
               {"interval", device_interval_}}
              .dump(),
          ""};
}

OAuthTestServer::Reply OAuthTestServer::Introspect(const Fields& f) {
  ++counts_.introspections;
  const auto found = access_tokens_.find(Field(f, "token"));
  if (found == access_tokens_.end() || found->second.expires < std::chrono::steady_clock::now()) {
    ++counts_.refused_introspections;
    return {200, Json{{"active", false}}.dump(), ""};
  }
  return {200, Json{{"active", true}, {"username", kUser}, {"scope", found->second.scope}}.dump(),
          ""};
}

}  // namespace qm::testing
