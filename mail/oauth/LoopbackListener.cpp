#include "mail/oauth/LoopbackListener.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>

#include "frame/settings/Cancellation.h"
#include "frame/settings/Failure.h"
#include "mail/oauth/FormEncoding.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kLargestRequest = 8 * 1024;
constexpr std::chrono::milliseconds kConnectionLimit{5000};

constexpr std::string_view kSignedInPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Quillmar</title></head><body>"
    "<p>サインインしました。このページを閉じて Quillmar に戻ってください。</p>"
    "<p>Signed in. Close this page and return to Quillmar.</p></body></html>";
constexpr std::string_view kRefusedPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Quillmar</title></head><body>"
    "<p>サインインできませんでした。Quillmar に戻ってください。</p>"
    "<p>The sign-in did not complete. Return to Quillmar.</p></body></html>";

Failure Refused(const std::string& why) {
  return Failure(FailureKind::SignOn, Cause::kLoginRefused, "the browser sign-in failed: " + why);
}

std::chrono::milliseconds Left(Clock::time_point deadline) {
  return std::max(std::chrono::milliseconds(0),
                  std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

// Waits until `fd` is readable: false when `deadline` passes first.
bool WaitReadable(int fd, Clock::time_point deadline, const Cancellation* cancel) {
  pollfd ready[2] = {{fd, POLLIN, 0}, {cancel != nullptr ? cancel->fd() : -1, POLLIN, 0}};
  for (;;) {
    const int count = ::poll(ready, 2, static_cast<int>(Left(deadline).count()));
    if (count > 0 && ready[1].revents != 0) throw CancelledWhile("waiting for the browser");
    if (count > 0) return true;
    if (count == 0) return false;
    if (errno != EINTR) throw FileFailure(FailureKind::SignOn, errno, "waiting for the browser");
  }
}

// The request head, up to the blank line; empty when the client sends too
// much, too slowly or nothing.
std::string ReadRequestHead(int client, const Cancellation* cancel) {
  const Clock::time_point deadline = Clock::now() + kConnectionLimit;
  std::string head;
  char buffer[1024];
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (head.size() > kLargestRequest || !WaitReadable(client, deadline, cancel)) return "";
    const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) return "";
    head.append(buffer, static_cast<std::size_t>(got));
  }
  return head;
}

void Answer(int client, int status, std::string_view page) {
  const std::string reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Bad Request";
  const std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                            "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                            std::to_string(page.size()) +
                            "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" +
                            std::string(page);
  // A browser that went away takes no page: nothing to report.
  ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
}

// The target of "GET <target> HTTP/1.x"; empty for anything else.
std::string RequestTarget(const std::string& head) {
  const std::string_view line = std::string_view(head).substr(0, head.find("\r\n"));
  if (!line.starts_with("GET ")) return "";
  const std::size_t end = line.find(' ', 4);
  if (end == std::string_view::npos) return "";
  return std::string(line.substr(4, end - 4));
}

std::string Field(const std::map<std::string, std::string>& fields, const char* name) {
  const auto found = fields.find(name);
  return found == fields.end() ? "" : found->second;
}

// Shown in a message: the provider's short error code, printable only.
std::string ShownCode(const std::string& code) {
  std::string shown = code.substr(0, 100);
  std::replace_if(
      shown.begin(), shown.end(), [](unsigned char c) { return c < 0x20 || c >= 0x7f; }, '?');
  return shown;
}

// The code of a redirect to "/", nothing for other requests (a browser asks
// for its icon too) and for requests too large or too slow to read; throws
// for a redirect that is refused.
std::optional<std::string> CodeOfRequest(int client, const std::string& state,
                                         const Cancellation* cancel) {
  const std::string head = ReadRequestHead(client, cancel);
  if (head.empty()) return std::nullopt;  // too large or too slow: closed unanswered
  const std::string target = RequestTarget(head);
  const std::size_t query = std::min(target.find('?'), target.size());
  if (target.substr(0, query) != "/") {
    Answer(client, 404, kRefusedPage);
    return std::nullopt;
  }
  const auto fields = FormDecode(query < target.size() ? target.substr(query + 1) : "");
  if (Field(fields, "state") != state) {
    Answer(client, 400, kRefusedPage);
    throw Refused("the answer does not belong to this sign-in (its state differs)");
  }
  const std::string error = Field(fields, "error");
  if (!error.empty()) {
    Answer(client, 400, kRefusedPage);
    throw Refused("the provider answered " + ShownCode(error));
  }
  std::string code = Field(fields, "code");
  if (code.empty()) {
    Answer(client, 400, kRefusedPage);
    throw Refused("the answer carries no authorization code");
  }
  Answer(client, 200, kSignedInPage);
  return code;
}

}  // namespace

LoopbackListener::LoopbackListener()
    : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (!socket_.valid() ||
      ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(socket_.get(), 4) != 0 ||
      ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw FileFailure(FailureKind::SignOn, errno,
                      "cannot open a port on 127.0.0.1 for the browser sign-in");
  }
  port_ = ntohs(address.sin_port);
}

std::string LoopbackListener::RedirectUri() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::string LoopbackListener::WaitForCode(const std::string& state, std::chrono::milliseconds limit,
                                          const Cancellation* cancel) {
  const Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    if (!WaitReadable(socket_.get(), deadline, cancel)) {
      throw Refused("no answer from the browser in time");
    }
    const UniqueFd client(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!client.valid()) continue;
    if (std::optional<std::string> code = CodeOfRequest(client.get(), state, cancel)) {
      return std::move(*code);
    }
  }
}

}  // namespace qm
