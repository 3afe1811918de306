#include "mail/MailProfile.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "frame/settings/ConfigLocation.h"
#include "frame/settings/Failure.h"
#include "mail/OAuthSignOn.h"
#include "mail/imap/CurlImapTransport.h"
#include "mail/imap/ImapAccount.h"
#include "mail/imap/ImapStore.h"
#include "mail/maildir/MaildirStore.h"
#include "mail/secrets/SecretStore.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMaildirScheme = "maildir:";

std::string HowToChoose() {
  return "set \"Store\" to \"maildir:/path/to/Maildir\" (or \"imaps://USER@HOST/INBOX\" with"
         " \"Password\") in [HKEY_CURRENT_USER\\" +
         std::string(kMailProfileKey) + "] of " + SettingsFilePath().string() +
         ", or create ~/Maildir";
}

Failure SignOnFailure(const std::string& what) {
  return Failure(FailureKind::SignOn, Cause::kNoMailbox, what);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// A text value of the mail profile: nothing when the key or the value is absent.
std::optional<std::string> ReadTextValue(Registry& registry, const char* name) {
  RegistryKey key = 0;
  if (registry.OpenKey(RegistryRoot::CurrentUser, kMailProfileKey, &key) != kErrorSuccess) {
    return std::nullopt;
  }
  std::uint32_t type = 0;
  Bytes data;
  const long result = registry.QueryValue(key, name, &type, &data);
  registry.CloseKey(key);
  if (result != kErrorSuccess) return std::nullopt;
  const auto nul = std::find(data.begin(), data.end(), std::uint8_t{0});
  std::string text(data.begin(), nul);
  std::fill(data.begin(), data.end(), std::uint8_t{0});  // it may hold the password
  if (type != kRegSz) {
    throw SignOnFailure("the mail profile value \"" + std::string(name) +
                        "\" is not text: " + HowToChoose());
  }
  return text;
}

// The download-new-mail flag of the session has no effect on either store:
// both see the mailbox as it is on disk or on the server at every listing.
std::unique_ptr<MailStore> OpenImap(const MailProfileValues& values, const Cancellation* cancel) {
  ImapAccount account = ParseImapStore(values.store);
  SetImapCredentials(account, values.password, values.ca_file);
  std::unique_ptr<ImapTransport> transport = CurlImapTransport::Connect(account, {}, cancel);
  return std::make_unique<ImapStore>(std::move(transport), account.mailbox);
}

std::unique_ptr<MailStore> OpenConfigured(Registry& registry, const MailProfileValues& values,
                                          const Cancellation* cancel) {
  if (IsImapStoreValue(values.store) && !values.oauth.provider.empty()) {
    return OpenOAuthImap(values, *OpenSecretStore(registry), cancel);
  }
  if (IsImapStoreValue(values.store)) return OpenImap(values, cancel);
  if (StartsWithNoCase(values.store, kMaildirScheme)) {
    const fs::path folder(values.store.substr(kMaildirScheme.size()));
    if (folder.is_absolute()) return std::make_unique<MaildirStore>(folder);
  }
  throw SignOnFailure("the mail profile value \"Store\" (\"" + values.store +
                      "\") is not an absolute Maildir folder or an IMAP address: " + HowToChoose());
}

// Text as the profile stores it: the bytes, closed by one NUL.
Bytes TextData(const std::string& text) {
  Bytes data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

// Percent-encodes every byte but the unreserved characters and `keep`.
std::string PercentEncode(std::string_view text, std::string_view keep) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || std::string_view("-._~").find(c) != std::string_view::npos ||
        keep.find(c) != std::string_view::npos) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0xf];
    }
  }
  return encoded;
}

// An IPv6 address goes into brackets, as in any URL.
std::string HostPart(const std::string& host) {
  const bool bare_ipv6 = host.find(':') != std::string::npos && !host.starts_with('[');
  return bare_ipv6 ? "[" + host + "]" : host;
}

std::unique_ptr<MailStore> OpenDefault() {
  const char* home = ::getenv("HOME");
  std::error_code error;
  if (home != nullptr && *home == '/' && fs::is_directory(fs::path(home) / "Maildir", error)) {
    return std::make_unique<MaildirStore>(fs::path(home) / "Maildir");
  }
  throw SignOnFailure("no mailbox configured: " + HowToChoose());
}

}  // namespace

std::unique_ptr<MailStore> OpenProfileStore(Registry& registry, const Cancellation* cancel) {
  const std::optional<std::string> store = ReadTextValue(registry, kMailStoreValue);
  if (!store) return OpenDefault();
  MailProfileValues values{*store, "", ""};
  if (IsImapStoreValue(values.store)) {
    values.password = ReadTextValue(registry, kMailPasswordValue).value_or("");
    values.ca_file = ReadTextValue(registry, kMailCaFileValue).value_or("");
    values.oauth = ReadOAuthSettings(registry);
  }
  return OpenConfigured(registry, values, cancel);
}

std::unique_ptr<MailStore> OpenProfileStore(const Cancellation* cancel) {
  const std::unique_ptr<Registry> registry = OpenPlatformRegistry();
  return OpenProfileStore(*registry, cancel);
}

std::unique_ptr<MailStore> OpenChosenStore(Registry& registry, const MailProfileValues& values) {
  if (!values.password.empty() || !IsImapStoreValue(values.store)) {
    return OpenConfigured(registry, values, nullptr);
  }
  MailProfileValues with_stored{values.store, "", values.ca_file, values.oauth};
  with_stored.password = ReadTextValue(registry, kMailPasswordValue).value_or("");
  return OpenConfigured(registry, with_stored, nullptr);
}

MailProfileValues ReadMailProfile(Registry& registry) {
  return {ReadTextValue(registry, kMailStoreValue).value_or(""), "",
          ReadTextValue(registry, kMailCaFileValue).value_or(""), ReadOAuthSettings(registry)};
}

bool HasStoredPassword(Registry& registry) {
  std::optional<std::string> password = ReadTextValue(registry, kMailPasswordValue);
  if (!password) return false;
  const bool stored = !password->empty();
  WipeSecret(*password);
  return stored;
}

void SaveMailProfile(Registry& registry, const MailProfileValues& values) {
  RegistryKey key = 0;
  if (registry.CreateKey(RegistryRoot::CurrentUser, kMailProfileKey, &key) != kErrorSuccess) {
    throw SignOnFailure("cannot write the mail profile to " + SettingsFilePath().string());
  }
  long result = registry.SetValue(key, kMailStoreValue, kRegSz, TextData(values.store));
  if (result == kErrorSuccess && !values.password.empty()) {
    Bytes secret = TextData(values.password);
    result = registry.SetValue(key, kMailPasswordValue, kRegSz, secret);
    std::fill(secret.begin(), secret.end(), std::uint8_t{0});
  }
  if (result == kErrorSuccess && IsImapStoreValue(values.store)) {
    result = registry.SetValue(key, kMailCaFileValue, kRegSz, TextData(values.ca_file));
  }
  const long closed = registry.CloseKey(key);  // the file store writes here
  if (result != kErrorSuccess || closed != kErrorSuccess) {
    throw SignOnFailure("cannot write the mail profile to " + SettingsFilePath().string());
  }
  SaveOAuthSettings(registry, values.oauth);
}

std::string MaildirStoreValue(const std::string& folder) {
  return std::string(kMaildirScheme) + folder;
}

std::string ImapStoreValue(const ImapAccount& account) {
  const bool tls = account.security == ImapSecurity::kImplicitTls;
  const int default_port = tls ? 993 : 143;
  std::string value = tls ? "imaps://" : "imap://";
  value += PercentEncode(account.user, "") + "@" + HostPart(account.host);
  if (account.port != default_port) value += ":" + std::to_string(account.port);
  return value + "/" + PercentEncode(account.mailbox, "/");
}

std::string MaildirFolderOf(const std::string& store) {
  return StartsWithNoCase(store, kMaildirScheme) ? store.substr(kMaildirScheme.size()) : "";
}

}  // namespace qm
