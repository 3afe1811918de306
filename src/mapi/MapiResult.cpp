#include "mapi/MapiResult.h"

#include <windows.h>
// windows.h first: mapi.h uses its types.
#include <mapi.h>

#include <utility>

namespace qm {
namespace {

struct Named {
  unsigned long result;
  const char* name;
};

constexpr Named kNames[] = {
    {SUCCESS_SUCCESS, "SUCCESS_SUCCESS"},
    {MAPI_E_USER_ABORT, "MAPI_E_USER_ABORT"},
    {MAPI_E_FAILURE, "MAPI_E_FAILURE"},
    {MAPI_E_LOGIN_FAILURE, "MAPI_E_LOGIN_FAILURE"},
    {MAPI_E_DISK_FULL, "MAPI_E_DISK_FULL"},
    {MAPI_E_INSUFFICIENT_MEMORY, "MAPI_E_INSUFFICIENT_MEMORY"},
    {MAPI_E_ACCESS_DENIED, "MAPI_E_ACCESS_DENIED"},
    {MAPI_E_TOO_MANY_SESSIONS, "MAPI_E_TOO_MANY_SESSIONS"},
    {MAPI_E_TOO_MANY_FILES, "MAPI_E_TOO_MANY_FILES"},
    {MAPI_E_ATTACHMENT_NOT_FOUND, "MAPI_E_ATTACHMENT_NOT_FOUND"},
    {MAPI_E_ATTACHMENT_OPEN_FAILURE, "MAPI_E_ATTACHMENT_OPEN_FAILURE"},
    {MAPI_E_ATTACHMENT_WRITE_FAILURE, "MAPI_E_ATTACHMENT_WRITE_FAILURE"},
    {MAPI_E_NO_MESSAGES, "MAPI_E_NO_MESSAGES"},
    {MAPI_E_INVALID_MESSAGE, "MAPI_E_INVALID_MESSAGE"},
    {MAPI_E_TEXT_TOO_LARGE, "MAPI_E_TEXT_TOO_LARGE"},
    {MAPI_E_INVALID_SESSION, "MAPI_E_INVALID_SESSION"},
    {MAPI_E_TYPE_NOT_SUPPORTED, "MAPI_E_TYPE_NOT_SUPPORTED"},
    {MAPI_E_MESSAGE_IN_USE, "MAPI_E_MESSAGE_IN_USE"},
    {MAPI_E_NETWORK_FAILURE, "MAPI_E_NETWORK_FAILURE"},
    {MAPI_E_NOT_SUPPORTED, "MAPI_E_NOT_SUPPORTED"},
};

std::string Quoted(const std::string& profile) {
  return profile.empty() ? "the default profile" : "the profile \"" + profile + "\"";
}

std::pair<Cause, std::string> SignOnCause(unsigned long result, const std::string& profile,
                                          bool may_prompt) {
  switch (result) {
    case MAPI_E_USER_ABORT:
      return {Cause::kCancelled, "the sign-on to Outlook was cancelled"};
    case MAPI_E_LOGIN_FAILURE:
      if (!may_prompt) {
        return {Cause::kMailProgramNeedsPrompt,
                "Outlook did not sign on to " + Quoted(profile) +
                    " without asking, and a run at start asks nothing: start Outlook first, or "
                    "name its profile (\"mapi:PROFILE\")"};
      }
      return {Cause::kMailProgramRefused,
              "Outlook refused the sign-on to " + Quoted(profile) + " (no such profile?)"};
    case MAPI_E_TOO_MANY_SESSIONS:
      return {Cause::kMailProgramBusy, "Outlook has too many sessions open"};
    case MAPI_E_FAILURE:
    case MAPI_E_NOT_SUPPORTED:
      return {Cause::kNoMailProgram,
              "the default mail program does not let other programs read its mail (the new "
              "Outlook does not)"};
    default:
      return {Cause::kMailProgramRefused, "the sign-on to Outlook failed"};
  }
}

}  // namespace

std::string MapiResultName(unsigned long result) {
  for (const Named& named : kNames) {
    if (named.result == result)
      return std::string(named.name) + " (" + std::to_string(result) + ")";
  }
  return "MAPI result " + std::to_string(result);
}

Failure MapiSignOnFailure(unsigned long result, const std::string& profile, bool may_prompt) {
  auto [cause, text] = SignOnCause(result, profile, may_prompt);
  return Failure(FailureKind::SignOn, cause, text + ": MAPILogon gave " + MapiResultName(result));
}

Failure MapiMailboxFailure(unsigned long result, const std::string& call) {
  const std::string what = call + " gave " + MapiResultName(result);
  if (result == MAPI_E_NOT_SUPPORTED || result == MAPI_E_TYPE_NOT_SUPPORTED) {
    return Failure(FailureKind::SignOn, Cause::kNoMailProgram,
                   "the default mail program does not let other programs read its inbox: " + what);
  }
  if (result == MAPI_E_INVALID_SESSION) {
    return Failure(FailureKind::MailStore, Cause::kMailServer,
                   "the session with Outlook ended: " + what);
  }
  return Failure(FailureKind::MailStore, Cause::kMailServer, what);
}

bool IsOneMessageFailure(unsigned long result) {
  switch (result) {
    case MAPI_E_DISK_FULL:
    case MAPI_E_ACCESS_DENIED:
    case MAPI_E_TOO_MANY_FILES:
    case MAPI_E_ATTACHMENT_NOT_FOUND:
    case MAPI_E_ATTACHMENT_OPEN_FAILURE:
    case MAPI_E_ATTACHMENT_WRITE_FAILURE:
    case MAPI_E_TEXT_TOO_LARGE:
    case MAPI_E_MESSAGE_IN_USE:
    case MAPI_E_INSUFFICIENT_MEMORY:
      return true;
    default:
      return false;
  }
}

}  // namespace qm
