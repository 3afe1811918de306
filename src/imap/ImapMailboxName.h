#pragma once
// Mailbox names on the wire: UTF-8 names in the modified UTF-7 of IMAP
// (printable ASCII as itself, "&" as "&-", anything else as "&" + modified
// base64 of UTF-16 + "-"), written as a quoted string.

#include <string>
#include <string_view>

namespace qm {

// Throws Failure(MailStore) when `utf8` is not valid UTF-8.
std::string EncodeMailboxName(std::string_view utf8);

// `text` as an IMAP quoted string ("\" and '"' escaped). `text` must not hold
// CR, LF or NUL; encoded mailbox names never do.
std::string QuoteImapString(std::string_view text);

}  // namespace qm
