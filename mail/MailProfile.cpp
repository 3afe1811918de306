#include "mail/MailProfile.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "frame/ConfigLocation.h"
#include "frame/Failure.h"
#include "mail/CurlImapTransport.h"
#include "mail/ImapAccount.h"
#include "mail/ImapStore.h"
#include "mail/MaildirStore.h"

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
  return Failure(FailureKind::SignOn, errnum::kNoMailbox, what);
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
std::unique_ptr<MailStore> OpenImap(Registry& registry, const std::string& value) {
  ImapAccount account = ParseImapStore(value);
  SetImapCredentials(account, ReadTextValue(registry, kMailPasswordValue).value_or(""),
                     ReadTextValue(registry, kMailCaFileValue).value_or(""));
  std::unique_ptr<ImapTransport> transport = CurlImapTransport::Connect(account);
  return std::make_unique<ImapStore>(std::move(transport), account.mailbox);
}

std::unique_ptr<MailStore> OpenConfigured(Registry& registry, const std::string& value) {
  if (IsImapStoreValue(value)) return OpenImap(registry, value);
  if (StartsWithNoCase(value, kMaildirScheme)) {
    const fs::path folder(value.substr(kMaildirScheme.size()));
    if (folder.is_absolute()) return std::make_unique<MaildirStore>(folder);
  }
  throw SignOnFailure("the mail profile value \"Store\" (\"" + value +
                      "\") is not an absolute Maildir folder or an IMAP address: " + HowToChoose());
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

std::unique_ptr<MailStore> OpenProfileStore(Registry& registry) {
  const std::optional<std::string> value = ReadTextValue(registry, kMailStoreValue);
  return value ? OpenConfigured(registry, *value) : OpenDefault();
}

std::unique_ptr<MailStore> OpenProfileStore() {
  const std::unique_ptr<Registry> registry = OpenPlatformRegistry();
  return OpenProfileStore(*registry);
}

}  // namespace qm
