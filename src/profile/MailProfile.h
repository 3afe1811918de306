#pragma once
// The mail layer's own settings: which mailbox to sign on to. Kept in the same
// registry store as the program's settings, under
// HKEY_CURRENT_USER\SOFTWARE\Vantrel\Quillmar\Mail, value "Store":
//   "maildir:/absolute/path/to/Maildir"   a local Maildir
//   "imaps://USER@HOST[:PORT][/MAILBOX]"  an IMAP mailbox, TLS from the first byte
//   "imap://USER@HOST[:PORT][/MAILBOX]"   an IMAP mailbox, STARTTLS required
//   "mapi:" or "mapi:PROFILE"              Outlook's own inbox (Windows only)
// and optionally "CAFile" for IMAP (see ImapAccount.h). The password is kept
// in the desktop keyring when one is reachable, in the value "Password"
// otherwise (see secrets/SecretStore.h); or "PasswordCommand" names a
// command that prints it (see secrets/PasswordCommand.h). Gmail and
// Microsoft 365 mailboxes have "Provider" and the values of OAuthSettings.h
// instead of a password. "ServerTimeLimit" bounds the waits for an IMAP
// server (see ReadImapTimeouts).
// Without "Store", ~/Maildir is used when it exists.

#include <memory>
#include <optional>
#include <string>

#include "imap/CurlImapTransport.h"
#include "imap/ImapAccount.h"
#include "profile/OAuthSettings.h"
#include "secrets/MailProfileKey.h"
#include "settings/Registry.h"
#include "store/MailStore.h"

namespace qm {

class Cancellation;

inline constexpr char kMailStoreValue[] = "Store";
inline constexpr char kMailCaFileValue[] = "CAFile";
inline constexpr char kMailPasswordCommandValue[] = "PasswordCommand";
inline constexpr char kMailPasswordCommandGivesValue[] = "PasswordCommandGives";
inline constexpr char kMailServerTimeLimitValue[] = "ServerTimeLimit";

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
// `request` says what the sign-on may do (a mail program's own sign-on
// window, fetching new mail first).
std::unique_ptr<MailStore> OpenProfileStore(Registry& registry,
                                            const Cancellation* cancel = nullptr,
                                            const SignOnRequest& request = {});
// The same, on the platform's registry.
std::unique_ptr<MailStore> OpenProfileStore(const Cancellation* cancel = nullptr,
                                            const SignOnRequest& request = {});

// Opens the mailbox `values` name, as OpenProfileStore would if they were
// stored, without storing them. An empty password means the stored one.
std::unique_ptr<MailStore> OpenChosenStore(Registry& registry, const MailProfileValues& values);

// The stored "Store" and "CAFile" values, empty when absent; the password is
// never read back for showing. Throws Failure(SignOn) when a value is not text.
MailProfileValues ReadMailProfile(Registry& registry);

// True when a non-empty password is kept for the profile's mailbox (in the
// keyring or the settings file), or when a "PasswordCommand" gives it.
bool HasStoredPassword(Registry& registry);

// Writes "Store" always and "CAFile" for an IMAP store; a password `values`
// holds goes into the secret store (the keyring, which then removes an old
// "Password" value from the file, or else the file). An empty password keeps
// the stored one; with a keyring reachable, one still in the file moves into
// the keyring. Throws Failure(SignOn) when the store refuses a write.
void SaveMailProfile(Registry& registry, const MailProfileValues& values);

// What the first line of "PasswordCommand" is, as "PasswordCommandGives"
// says: "password" or "token"; nothing when the value is absent or empty,
// which a password mailbox takes as "password" and an OAuth 2.0 mailbox may
// take as "token". Throws Failure(SignOn) for any other text.
enum class PasswordCommandGives { kPassword, kToken };
std::optional<PasswordCommandGives> ReadPasswordCommandGives(Registry& registry);

// The time limits of an IMAP mailbox. "ServerTimeLimit", in seconds (1 to
// 3600), is both the longest the sign-on may take and the longest wait for
// the server in which fewer than 1 KiB may come or go; absent or empty, they
// are 20 and 60 seconds. Throws Failure(SignOn, kNoMailbox) for any other
// text.
ImapTimeouts ReadImapTimeouts(Registry& registry);

// The "PasswordCommand" value, empty when absent.
std::string ReadPasswordCommand(Registry& registry);

// "Store" values built from their parts: "maildir:" and the folder, and the
// IMAP address with user and mailbox percent-encoded and the port only when it
// is not the default of the security mode. The account's password and CA file
// are never part of it.
std::string MaildirStoreValue(const std::string& folder);
std::string ImapStoreValue(const ImapAccount& account);

// The folder of a "maildir:" value, or nothing when `store` is not one.
std::string MaildirFolderOf(const std::string& store);

}  // namespace qm
