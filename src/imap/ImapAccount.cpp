#include "imap/ImapAccount.h"

#include <string.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

#include "base/Failure.h"

namespace qm {
namespace {

constexpr std::string_view kExpectedForm =
    "imaps://USER@HOST[:PORT][/MAILBOX] or imap://USER@HOST[:PORT][/MAILBOX]";
constexpr int kImplicitTlsPort = 993;
constexpr int kStartTlsPort = 143;

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// The value as it may be shown: a password written into the address
// ("user:secret@host") is replaced by "***".
std::string Shown(std::string_view store) {
  const auto authority_begin = store.find("://");
  if (authority_begin == std::string_view::npos) return std::string(store);
  const auto authority_end = store.find('/', authority_begin + 3);
  const auto at = store.substr(0, authority_end).rfind('@');
  const auto colon = store.find(':', authority_begin + 3);
  if (at == std::string_view::npos || colon == std::string_view::npos || colon > at) {
    return std::string(store);
  }
  return std::string(store.substr(0, colon + 1)) + "***" + std::string(store.substr(at));
}

Failure Malformed(std::string_view store, const std::string& reason) {
  return Failure(FailureKind::SignOn, Cause::kNoMailbox,
                 "the mail profile value \"Store\" (\"" + Shown(store) + "\") " + reason +
                     "; expected " + std::string(kExpectedForm));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

// Percent-decodes `text`; nothing when a '%' is not followed by two hex digits
// or the result holds a control character (it would end up in an IMAP command).
std::optional<std::string> PercentDecode(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = HexDigit(text[i + 1]);
      const int low = HexDigit(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (IsControl(static_cast<unsigned char>(c))) return std::nullopt;
    decoded += c;
  }
  return decoded;
}

bool IsHostName(std::string_view host) {
  if (host.empty() || host.front() == '.' || host.front() == '-') return false;
  return std::all_of(host.begin(), host.end(),
                     [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '-'; });
}

bool IsBracketedAddress(std::string_view host) {
  if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
  return std::all_of(host.begin() + 1, host.end() - 1,
                     [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; });
}

std::optional<int> ParsePort(std::string_view text) {
  int port = 0;
  if (text.empty() || text.size() > 5 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return std::nullopt;
  }
  std::from_chars(text.data(), text.data() + text.size(), port);
  if (port < 1 || port > 65535) return std::nullopt;
  return port;
}

// HOST[:PORT] into the account.
void ParseHostPort(std::string_view store, std::string_view host_port, ImapAccount& account) {
  std::size_t host_end = 0;
  if (!host_port.empty() && host_port.front() == '[') {
    host_end = host_port.find(']');
    host_end = host_end == std::string_view::npos ? host_port.size() : host_end + 1;
  } else {
    host_end = std::min(host_port.find(':'), host_port.size());
  }
  const std::string_view host = host_port.substr(0, host_end);
  if (host.empty()) throw Malformed(store, "names no server");
  if (!IsHostName(host) && !IsBracketedAddress(host)) {
    throw Malformed(store, "has an invalid server name");
  }
  account.host = std::string(host);
  if (host_end == host_port.size()) return;
  if (host_port[host_end] != ':') throw Malformed(store, "has an invalid server name");
  const std::optional<int> port = ParsePort(host_port.substr(host_end + 1));
  if (!port) throw Malformed(store, "has an invalid port (1 to 65535)");
  account.port = *port;
}

}  // namespace

bool IsImapStoreValue(std::string_view store) {
  const std::string head = Lower(store.substr(0, 8));
  return head.starts_with("imap://") || head.starts_with("imaps://");
}

ImapAccount ParseImapStore(std::string_view store) {
  ImapAccount account;
  const std::size_t scheme_end = store.find("://");
  const std::string scheme = Lower(store.substr(0, scheme_end));
  if (scheme_end == std::string_view::npos || (scheme != "imap" && scheme != "imaps")) {
    throw Malformed(store, "is not an IMAP address");
  }
  account.security = scheme == "imaps" ? ImapSecurity::kImplicitTls : ImapSecurity::kStartTls;
  account.port = scheme == "imaps" ? kImplicitTlsPort : kStartTlsPort;

  const std::string_view rest = store.substr(scheme_end + 3);
  if (rest.find_first_of("?#") != std::string_view::npos) {
    throw Malformed(store, "has a query or fragment part");
  }
  const std::size_t slash = std::min(rest.find('/'), rest.size());
  const std::string_view authority = rest.substr(0, slash);
  const std::size_t at = authority.rfind('@');
  if (at == std::string_view::npos || at == 0) throw Malformed(store, "names no user");
  const std::string_view user = authority.substr(0, at);
  if (user.find(':') != std::string_view::npos) {
    throw Malformed(store, "holds a password: put it into the value \"Password\" instead");
  }
  if (user.find(';') != std::string_view::npos) {
    throw Malformed(store, "has login options after the user name");
  }
  const std::optional<std::string> decoded_user = PercentDecode(user);
  if (!decoded_user || decoded_user->empty()) throw Malformed(store, "has an invalid user name");
  account.user = *decoded_user;

  ParseHostPort(store, authority.substr(at + 1), account);

  const std::string_view path = slash < rest.size() ? rest.substr(slash + 1) : std::string_view();
  if (path.find(';') != std::string_view::npos) {
    throw Malformed(store, "has parameters after the mailbox");
  }
  const std::optional<std::string> mailbox = PercentDecode(path);
  if (!mailbox) throw Malformed(store, "has an invalid mailbox name");
  if (!mailbox->empty()) account.mailbox = *mailbox;
  return account;
}

void SetImapCredentials(ImapAccount& account, std::string password, std::string ca_file) {
  const bool usable =
      !password.empty() && std::none_of(password.begin(), password.end(), [](unsigned char c) {
        return c == '\r' || c == '\n' || c == '\0';
      });
  if (!usable) {
    WipeSecret(password);
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "the mail profile value \"Password\" is missing, empty or holds a line break;"
                  " set it to the password of " +
                      account.user + "@" + account.host);
  }
  WipeSecret(account.password);
  account.password = std::move(password);
  account.ca_file = std::move(ca_file);
}

void SetImapBearerToken(ImapAccount& account, std::string token, std::string ca_file) {
  const bool usable =
      !token.empty() &&
      std::all_of(token.begin(), token.end(), [](unsigned char c) { return c > 0x20 && c < 0x7f; });
  if (!usable) {
    WipeSecret(token);
    throw Failure(FailureKind::SignOn, Cause::kLoginRefused,
                  "the access token for " + account.user + "@" + account.host +
                      " is empty or holds characters no token has");
  }
  WipeSecret(account.password);
  WipeSecret(account.bearer_token);
  account.bearer_token = std::move(token);
  account.ca_file = std::move(ca_file);
}

}  // namespace qm
