#pragma once
// What the mail program's Simple MAPI answers mean to the program.

#include <string>

#include "base/Failure.h"

namespace qm {

// The name of a Simple MAPI result code ("MAPI_E_LOGIN_FAILURE (3)").
std::string MapiResultName(unsigned long result);

// The failure of a sign-on the mail program answered with `result`; `profile`
// names the profile asked for ("" for the default), `may_prompt` whether its
// sign-on window was allowed.
Failure MapiSignOnFailure(unsigned long result, const std::string& profile, bool may_prompt);

// The failure of a call during the scan (`call` names it): a session that
// ended or a mail program that reads no inbox (Wine's own) ends the scan.
Failure MapiMailboxFailure(unsigned long result, const std::string& call);

// True for an answer of MAPIReadMail that concerns one message only: the
// mail program could not write its attachment files (disk full, no access,
// too many files), so the message stays unread and is tried again.
bool IsOneMessageFailure(unsigned long result);

}  // namespace qm
