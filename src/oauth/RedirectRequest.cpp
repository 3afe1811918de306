#include "oauth/RedirectRequest.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "oauth/FormEncoding.h"

namespace qm {
namespace {

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

}  // namespace

RedirectVerdict JudgeRedirect(const std::string& head, const std::string& state) {
  using Kind = RedirectVerdict::Kind;
  const std::string target = RequestTarget(head);
  const std::size_t query = std::min(target.find('?'), target.size());
  if (target.substr(0, query) != "/") return {Kind::kNotFound, "", ""};
  const auto fields = FormDecode(query < target.size() ? target.substr(query + 1) : "");
  // Only the browser that went through the provider knows the state: any
  // other process that finds the port cannot end the sign-in.
  if (state.empty() || Field(fields, "state") != state) return {Kind::kNotOurs, "", ""};
  if (const std::string error = Field(fields, "error"); !error.empty()) {
    return {Kind::kRefusal, "", "the provider answered " + ShownCode(error)};
  }
  std::string code = Field(fields, "code");
  if (code.empty()) return {Kind::kRefusal, "", "the answer carries no authorization code"};
  return {Kind::kCode, std::move(code), ""};
}

}  // namespace qm
