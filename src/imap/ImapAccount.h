#pragma once
// An IMAP mailbox as the mail profile names it:
//   "Store"    = imaps://USER@HOST[:PORT][/MAILBOX]  TLS from the first byte (port 993)
//              | imap://USER@HOST[:PORT][/MAILBOX]   STARTTLS required (port 143)
//   "Password" = the password for USER
//   "CAFile"   = optional PEM file trusted in addition to the system's CAs
// USER and MAILBOX may be percent-encoded (UTF-8); MAILBOX defaults to INBOX.
// There is no unencrypted form.

#include <string>
#include <string_view>

#include "base/WipeSecret.h"

namespace qm {

enum class ImapSecurity { kImplicitTls, kStartTls };

struct ImapAccount {
  ImapSecurity security = ImapSecurity::kImplicitTls;
  std::string user;
  std::string host;  // a name, an IPv4 address or a bracketed IPv6 address
  int port = 993;
  std::string mailbox = "INBOX";
  std::string password;
  // An OAuth 2.0 access token: when set, the sign-on is AUTHENTICATE
  // OAUTHBEARER or XOAUTH2 (whichever the server offers) and the password is
  // not used.
  std::string bearer_token;
  std::string ca_file;  // empty: the system's CAs only
};

// True when `store` starts with "imap://" or "imaps://" (any letter case).
bool IsImapStoreValue(std::string_view store);

// Parses the "Store" value. Throws Failure(SignOn, kNoMailbox) naming the value
// and the expected form when it is malformed; the password is never part of it.
ImapAccount ParseImapStore(std::string_view store);

// Adds the two other profile values to a parsed account. Throws
// Failure(SignOn, kNoMailbox) when the password is missing or unusable; the
// text never contains it.
void SetImapCredentials(ImapAccount& account, std::string password, std::string ca_file);

// Signs on with an OAuth 2.0 access token instead of a password. Throws
// Failure(SignOn, kLoginRefused) when the token holds characters no token
// has; the text never contains it.
void SetImapBearerToken(ImapAccount& account, std::string token, std::string ca_file);

}  // namespace qm
