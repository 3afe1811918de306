#pragma once
// The mail layer's own settings: which mailbox to sign on to. Kept in the same
// registry store as the program's settings, under
// HKEY_CURRENT_USER\SOFTWARE\Vantrel\Quillmar\Mail, value "Store":
//   "maildir:/absolute/path/to/Maildir"   a local Maildir
//   "imaps://USER@HOST[:PORT][/MAILBOX]"  an IMAP mailbox, TLS from the first byte
//   "imap://USER@HOST[:PORT][/MAILBOX]"   an IMAP mailbox, STARTTLS required
// with "Password" and optionally "CAFile" for IMAP (see ImapAccount.h), or
// for Gmail and Microsoft 365 "Provider" and the values of OAuthSettings.h.
// Without "Store", ~/Maildir is used when it exists.

#include <memory>
#include <string>

#include "frame/settings/Registry.h"
#include "mail/OAuthSettings.h"
#include "mail/imap/ImapAccount.h"
#include "mail/secrets/MailProfileKey.h"
#include "mail/store/MailStore.h"

namespace qm {

class Cancellation;

inline constexpr char kMailStoreValue[] = "Store";
inline constexpr char kMailCaFileValue[] = "CAFile";

// The three values of the profile. The password is wiped when the record goes.
struct MailProfileValues {
  std::string store;
  std::string password;
  std::string ca_file;
  OAuthSettings oauth{};  // its provider empty: the password signs on

  ~MailProfileValues() { WipeSecret(password); }
};

// Opens the mailbox the profile names; throws Failure(SignOn) with a text that
// says how to choose one when none is configured or the value is not usable.
// With `cancel`, a request there ends every wait for the server at once.
std::unique_ptr<MailStore> OpenProfileStore(Registry& registry,
                                            const Cancellation* cancel = nullptr);
// The same, on the platform's registry.
std::unique_ptr<MailStore> OpenProfileStore(const Cancellation* cancel = nullptr);

// Opens the mailbox `values` name, as OpenProfileStore would if they were
// stored, without storing them. An empty password means the stored one.
std::unique_ptr<MailStore> OpenChosenStore(Registry& registry, const MailProfileValues& values);

// The stored "Store" and "CAFile" values, empty when absent; the password is
// never read back for showing. Throws Failure(SignOn) when a value is not text.
MailProfileValues ReadMailProfile(Registry& registry);

// True when a non-empty "Password" value is stored.
bool HasStoredPassword(Registry& registry);

// Writes "Store" always, "Password" only when `values` holds one (an empty one
// keeps the stored password) and "CAFile" for an IMAP store. Throws
// Failure(SignOn) when the store refuses a write.
void SaveMailProfile(Registry& registry, const MailProfileValues& values);

// "Store" values built from their parts: "maildir:" and the folder, and the
// IMAP address with user and mailbox percent-encoded and the port only when it
// is not the default of the security mode. The account's password and CA file
// are never part of it.
std::string MaildirStoreValue(const std::string& folder);
std::string ImapStoreValue(const ImapAccount& account);

// The folder of a "maildir:" value, or nothing when `store` is not one.
std::string MaildirFolderOf(const std::string& store);

}  // namespace qm
