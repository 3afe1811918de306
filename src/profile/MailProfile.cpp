#include "profile/MailProfile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "base/EnvironmentVariable.h"
#include "base/Failure.h"
#include "graph/GraphStoreValue.h"
#include "imap/CurlImapTransport.h"
#include "imap/ImapAccount.h"
#include "imap/ImapStore.h"
#include "maildir/MaildirStore.h"
#include "mapi/MapiStoreValue.h"
#include "mapi/OpenMapiStore.h"
#include "profile/GraphSignOn.h"
#include "profile/OAuthSignOn.h"
#include "profile/ProfileValue.h"
#include "secrets/MoveSecretsIntoKeyring.h"
#include "secrets/PasswordCommand.h"
#include "secrets/SecretStore.h"
#include "settings/ConfigLocation.h"
#include "settings/RunLogLocation.h"
#include "text/PercentEncoding.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMaildirScheme = "maildir:";

std::string HowToChoose() {
  return "set \"Store\" to \"maildir:/path/to/Maildir\" (or \"imaps://USER@HOST/INBOX\" with"
         " \"Password\") in [HKEY_CURRENT_USER\\" +
         std::string(kMailProfileKey) + "] of " + SettingsPlace() + ", or create ~/Maildir";
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

// The password of an IMAP mailbox: what "PasswordCommand" prints when it is
// set to give one, else what the secret store keeps; empty when neither.
std::string StoredPassword(Registry& registry, const std::string& store,
                           const Cancellation* cancel) {
  if (const std::string command = ReadPasswordCommand(registry); !command.empty()) {
    const PasswordCommandGives gives =
        ReadPasswordCommandGives(registry).value_or(PasswordCommandGives::kPassword);
    if (gives == PasswordCommandGives::kPassword) {
      return RunPasswordCommand(command, kPasswordCommandTimeLimit, cancel);
    }
  }
  return OpenSecretStore(registry)->Read(SecretKind::kPassword, store).value_or("");
}

// A password left under the old "Store" value follows the mailbox to its new
// one in the keyring; the settings file keeps one password whatever the store.
void CarryPassword(SecretStore& secrets, const std::string& from, const std::string& to) {
  if (!secrets.IsKeyring() || from.empty() || from == to) return;
  std::optional<std::string> password = secrets.Read(SecretKind::kPassword, from);
  if (!password || password->empty()) return;
  secrets.Write(SecretKind::kPassword, to, *password);
  WipeSecret(*password);
  secrets.Erase(SecretKind::kPassword, from);
}

// The download-new-mail flag of the session has no effect on either store:
// both see the mailbox as it is on disk or on the server at every listing.
std::unique_ptr<MailStore> OpenImap(const MailProfileValues& values, const ImapTimeouts& timeouts,
                                    const Cancellation* cancel) {
  ImapAccount account = ParseImapStore(values.store);
  SetImapCredentials(account, values.password, values.ca_file);
  std::unique_ptr<ImapTransport> transport = CurlImapTransport::Connect(account, timeouts, cancel);
  return std::make_unique<ImapStore>(std::move(transport), account.mailbox);
}

// The access token a "PasswordCommand" prints, for a provider's mailbox or
// when "PasswordCommandGives" says "token"; empty when there is no such
// command.
std::string TokenFromCommand(Registry& registry, const MailProfileValues& values,
                             const Cancellation* cancel) {
  const std::string command = ReadPasswordCommand(registry);
  if (command.empty()) return "";
  if (values.oauth.provider.empty() &&
      ReadPasswordCommandGives(registry) != PasswordCommandGives::kToken) {
    return "";
  }
  return RunPasswordCommand(command, kPasswordCommandTimeLimit, cancel);
}

// Outlook's temporary attachment files not yet removed are recorded beside
// the run log, in a folder of the user's own.
std::filesystem::path TemporaryFilesRecordPath() {
  const fs::path log = RunLogPath();
  return log.empty() ? fs::path() : log.parent_path() / "outlook-temporary-files.txt";
}

std::unique_ptr<MailStore> OpenConfigured(Registry& registry, const MailProfileValues& values,
                                          const Cancellation* cancel,
                                          const SignOnRequest& request) {
  if (IsMapiStoreValue(values.store)) {
    return OpenMapiStore({MapiProfileOf(values.store), TemporaryFilesRecordPath()}, request);
  }
  if (IsGraphStoreValue(values.store)) return OpenGraphStore(registry, values, cancel);
  if (IsImapStoreValue(values.store)) {
    const ImapTimeouts timeouts = ReadImapTimeouts(registry);
    if (std::string token = TokenFromCommand(registry, values, cancel); !token.empty()) {
      return OpenImapWithToken(values, std::move(token), timeouts, cancel);
    }
    if (!values.oauth.provider.empty()) {
      return OpenOAuthImap(values, *OpenSecretStore(registry), timeouts, cancel);
    }
    return OpenImap(values, timeouts, cancel);
  }
  if (StartsWithNoCase(values.store, kMaildirScheme)) {
    const fs::path folder(values.store.substr(kMaildirScheme.size()));
    if (folder.is_absolute()) return std::make_unique<MaildirStore>(folder);
  }
  throw SignOnFailure("the mail profile value \"Store\" (\"" + values.store +
                      "\") is not an absolute Maildir folder, an IMAP address or a \"graph:\""
                      " mailbox: " +
                      HowToChoose());
}

// An IPv6 address goes into brackets, as in any URL.
std::string HostPart(const std::string& host) {
  const bool bare_ipv6 = host.find(':') != std::string::npos && !host.starts_with('[');
  return bare_ipv6 ? "[" + host + "]" : host;
}

// The "Store" value before a save; a damaged one is no reason to refuse it.
std::string StoreBeforeSave(Registry& registry) {
  try {
    return ReadProfileText(registry, kMailStoreValue).value_or("");
  } catch (const Failure&) {
    return "";
  }
}

// "Store", and "CAFile" for a server's mailbox: the values that are no secret.
void SaveProfileValues(Registry& registry, const MailProfileValues& values) {
  if (IsImapStoreValue(values.store) || IsGraphStoreValue(values.store)) {
    WriteProfileTexts(registry,
                      {{kMailStoreValue, values.store}, {kMailCaFileValue, values.ca_file}});
  } else {
    WriteProfileTexts(registry, {{kMailStoreValue, values.store}});
  }
}

// A mailbox chosen in the sign-on window: someone is there to answer the
// mail program's own sign-on window.
constexpr SignOnRequest kChosenInWindow{false, true};

std::unique_ptr<MailStore> OpenDefault() {
  const std::string home = NonEmptyVariable("HOME").value_or("");
  std::error_code error;
  if (home.starts_with('/') && fs::is_directory(fs::path(home) / "Maildir", error)) {
    return std::make_unique<MaildirStore>(fs::path(home) / "Maildir");
  }
  throw SignOnFailure("no mailbox configured: " + HowToChoose());
}

}  // namespace

std::unique_ptr<MailStore> OpenProfileStore(Registry& registry, const Cancellation* cancel,
                                            const SignOnRequest& request) {
  const std::optional<std::string> store = ReadProfileText(registry, kMailStoreValue);
  if (!store) return OpenDefault();
  MailProfileValues values{*store, "", ""};
  if (IsGraphStoreValue(values.store)) {
    values.oauth = ReadOAuthSettings(registry);
    values.ca_file = ReadProfileText(registry, kMailCaFileValue).value_or("");
  } else if (IsImapStoreValue(values.store)) {
    values.oauth = ReadOAuthSettings(registry);
    if (values.oauth.provider.empty()) {
      values.password = StoredPassword(registry, values.store, cancel);
    }
    values.ca_file = ReadProfileText(registry, kMailCaFileValue).value_or("");
  }
  return OpenConfigured(registry, values, cancel, request);
}

std::unique_ptr<MailStore> OpenProfileStore(const Cancellation* cancel,
                                            const SignOnRequest& request) {
  const std::unique_ptr<Registry> registry = OpenPlatformRegistry();
  return OpenProfileStore(*registry, cancel, request);
}

std::unique_ptr<MailStore> OpenChosenStore(Registry& registry, const MailProfileValues& values) {
  if (!values.password.empty() || !IsImapStoreValue(values.store) ||
      !values.oauth.provider.empty()) {
    return OpenConfigured(registry, values, nullptr, kChosenInWindow);
  }
  MailProfileValues with_stored{values.store, "", values.ca_file};
  with_stored.password = StoredPassword(registry, values.store, nullptr);
  return OpenConfigured(registry, with_stored, nullptr, kChosenInWindow);
}

MailProfileValues ReadMailProfile(Registry& registry) {
  return {ReadProfileText(registry, kMailStoreValue).value_or(""), "",
          ReadProfileText(registry, kMailCaFileValue).value_or(""), ReadOAuthSettings(registry)};
}

bool HasStoredPassword(Registry& registry) {
  if (!ReadPasswordCommand(registry).empty()) return true;
  const std::string store = ReadProfileText(registry, kMailStoreValue).value_or("");
  std::optional<std::string> password =
      OpenSecretStore(registry)->Read(SecretKind::kPassword, store);
  if (!password) return false;
  const bool stored = !password->empty();
  WipeSecret(*password);
  return stored;
}

std::optional<PasswordCommandGives> ReadPasswordCommandGives(Registry& registry) {
  const std::string gives = ReadProfileText(registry, kMailPasswordCommandGivesValue).value_or("");
  if (gives.empty()) return std::nullopt;
  if (gives == "password") return PasswordCommandGives::kPassword;
  if (gives == "token") return PasswordCommandGives::kToken;
  throw SignOnFailure("the mail profile value \"" + std::string(kMailPasswordCommandGivesValue) +
                      "\" is \"" + gives + "\", not \"password\" or \"token\"");
}

ImapTimeouts ReadImapTimeouts(Registry& registry) {
  const std::string text = ReadProfileText(registry, kMailServerTimeLimitValue).value_or("");
  ImapTimeouts timeouts;
  if (text.empty()) return timeouts;
  int seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || seconds < 1 || seconds > 3600) {
    throw SignOnFailure("the mail profile value \"" + std::string(kMailServerTimeLimitValue) +
                        "\" is \"" + text + "\", not a number of seconds from 1 to 3600");
  }
  timeouts.connect = timeouts.idle = std::chrono::seconds(seconds);
  return timeouts;
}

std::string ReadPasswordCommand(Registry& registry) {
  return ReadProfileText(registry, kMailPasswordCommandValue).value_or("");
}

void SaveMailProfile(Registry& registry, const MailProfileValues& values) {
  const std::string old_store = StoreBeforeSave(registry);
  SaveProfileValues(registry, values);
  if (!values.password.empty()) {
    OpenSecretStore(registry)->Write(SecretKind::kPassword, values.store, values.password);
  } else if (IsImapStoreValue(values.store)) {
    CarryPassword(*OpenSecretStore(registry), old_store, values.store);
    MoveSecretsIntoKeyring(registry, values.store);
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
  value += PercentEncoded(account.user) + "@" + HostPart(account.host);
  if (account.port != default_port) value += ":" + std::to_string(account.port);
  return value + "/" + PercentEncoded(account.mailbox, "/");
}

std::string MaildirFolderOf(const std::string& store) {
  return StartsWithNoCase(store, kMaildirScheme) ? store.substr(kMaildirScheme.size()) : "";
}

}  // namespace qm
