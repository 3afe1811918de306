#pragma once
// The mail layer's own settings: which mailbox to sign on to. Kept in the same
// registry store as the program's settings, under
// HKEY_CURRENT_USER\SOFTWARE\Vantrel\Quillmar\Mail, value "Store":
//   "maildir:/absolute/path/to/Maildir"   a local Maildir
//   "imaps://USER@HOST[:PORT][/MAILBOX]"  an IMAP mailbox, TLS from the first byte
//   "imap://USER@HOST[:PORT][/MAILBOX]"   an IMAP mailbox, STARTTLS required
// with "Password" and optionally "CAFile" for IMAP (see ImapAccount.h).
// Without "Store", ~/Maildir is used when it exists.

#include <memory>
#include <string>

#include "frame/Registry.h"
#include "mail/MailStore.h"

namespace qm {

inline constexpr char kMailProfileKey[] = "SOFTWARE\\Vantrel\\Quillmar\\Mail";
inline constexpr char kMailStoreValue[] = "Store";
inline constexpr char kMailPasswordValue[] = "Password";
inline constexpr char kMailCaFileValue[] = "CAFile";

// Opens the mailbox the profile names; throws Failure(SignOn) with a text that
// says how to choose one when none is configured or the value is not usable.
std::unique_ptr<MailStore> OpenProfileStore(Registry& registry);
std::unique_ptr<MailStore> OpenProfileStore();  // on the platform's registry

}  // namespace qm
