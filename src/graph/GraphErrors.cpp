#include "graph/GraphErrors.h"

#include <array>
#include <nlohmann/json.hpp>

namespace qm {
namespace {

using nlohmann::json;

struct ErrorFields {
  std::string code;
  std::string message;
};

ErrorFields FieldsOf(std::string_view body) {
  const json answer = json::parse(body, nullptr, false);
  if (!answer.is_object()) return {};
  const auto error = answer.find("error");
  if (error == answer.end() || !error->is_object()) return {};
  const auto text = [&](const char* name) {
    const auto member = error->find(name);
    return member != error->end() && member->is_string() ? member->get<std::string>().substr(0, 500)
                                                         : std::string();
  };
  return {text("code"), text("message")};
}

// The codes Exchange gives for a mailbox that is not there, or not one
// Graph can read (on premises, not licensed).
bool NamesMissingMailbox(const std::string& code) {
  constexpr std::array<std::string_view, 5> kCodes = {
      "ErrorInvalidUser", "MailboxNotEnabledForRESTAPI", "ResourceNotFound",
      "ErrorNonExistentMailbox", "Request_ResourceNotFound"};
  for (const std::string_view known : kCodes) {
    if (code == known) return true;
  }
  return false;
}

}  // namespace

std::string GraphErrorText(long status, std::string_view body) {
  const ErrorFields fields = FieldsOf(body);
  std::string text = "HTTP " + std::to_string(status);
  if (!fields.code.empty()) text += " " + fields.code;
  if (!fields.message.empty()) text += ": " + fields.message;
  return text;
}

Failure MailboxRequestFailure(const std::string& what, long status, std::string_view body) {
  const std::string detail = what + ": Microsoft Graph answered " + GraphErrorText(status, body);
  if (status == 401) return Failure(FailureKind::SignOn, Cause::kSignInRefused, detail);
  if (status == 403) return Failure(FailureKind::SignOn, Cause::kAccessNotGranted, detail);
  if (status == 404 && NamesMissingMailbox(FieldsOf(body).code)) {
    return Failure(FailureKind::SignOn, Cause::kMailboxNotFound, detail);
  }
  return Failure(FailureKind::MailStore, Cause::kMailServer, detail);
}

}  // namespace qm
