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
#include "mail/MaildirStore.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMaildirScheme = "maildir:";

std::string HowToChoose() {
  return "set \"Store\" to \"maildir:/path/to/Maildir\" in [HKEY_CURRENT_USER\\" +
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

// The "Store" value: nothing when the key or the value is absent.
std::optional<std::string> ReadStoreValue(Registry& registry) {
  RegistryKey key = 0;
  if (registry.OpenKey(RegistryRoot::CurrentUser, kMailProfileKey, &key) != kErrorSuccess) {
    return std::nullopt;
  }
  std::uint32_t type = 0;
  Bytes data;
  const long result = registry.QueryValue(key, kMailStoreValue, &type, &data);
  registry.CloseKey(key);
  if (result != kErrorSuccess) return std::nullopt;
  if (type != kRegSz) {
    throw SignOnFailure("the mail profile value \"Store\" is not text: " + HowToChoose());
  }
  const auto nul = std::find(data.begin(), data.end(), std::uint8_t{0});
  return std::string(data.begin(), nul);
}

std::unique_ptr<MailStore> OpenConfigured(const std::string& value) {
  if (StartsWithNoCase(value, "imap://") || StartsWithNoCase(value, "imaps://")) {
    throw SignOnFailure("IMAP mailboxes are not supported in this version");
  }
  if (StartsWithNoCase(value, kMaildirScheme)) {
    const fs::path folder(value.substr(kMaildirScheme.size()));
    if (folder.is_absolute()) return std::make_unique<MaildirStore>(folder);
  }
  throw SignOnFailure("the mail profile value \"Store\" (\"" + value +
                      "\") is not an absolute Maildir folder: " + HowToChoose());
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
  const std::optional<std::string> value = ReadStoreValue(registry);
  return value ? OpenConfigured(*value) : OpenDefault();
}

std::unique_ptr<MailStore> OpenProfileStore() {
  const std::unique_ptr<Registry> registry = OpenPlatformRegistry();
  return OpenProfileStore(*registry);
}

}  // namespace qm
