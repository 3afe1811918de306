#pragma once
// What a Graph error answer means for the scan. Graph answers
// {"error": {"code": "...", "message": "..."}} with the status; the code
// tells a missing permission from a missing mailbox.

#include <string>
#include <string_view>

#include "base/Failure.h"

namespace qm {

// The "code" and "message" of an error answer, as one line for the details
// ("ErrorAccessDenied: Access is denied..."); the status alone when the body
// is not Graph's error JSON.
std::string GraphErrorText(long status, std::string_view body);

// The failure of a request about the whole mailbox (the listing, the read
// marks) that Graph refused with `status`:
//   401 (with a fresh token)                 Failure(SignOn, kSignInRefused)
//   403                                      Failure(SignOn, kAccessNotGranted)
//   404 naming a user or mailbox             Failure(SignOn, kMailboxNotFound)
//   anything else                            Failure(MailStore, kMailServer)
// `what` names the request for the details.
Failure MailboxRequestFailure(const std::string& what, long status, std::string_view body);

}  // namespace qm
