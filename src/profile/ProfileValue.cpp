#include "profile/ProfileValue.h"

#include <algorithm>
#include <cstdint>

#include "base/Failure.h"
#include "base/WipeSecret.h"
#include "profile/MailProfile.h"
#include "settings/ConfigLocation.h"
#include "settings/Registry.h"

namespace qm {

std::optional<std::string> ReadProfileText(Registry& registry, const char* name) {
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
  WipeSecret(data);  // it may hold a secret
  if (type != kRegSz) {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "the mail profile value \"" + std::string(name) + "\" is not text (in " +
                      SettingsFilePath().string() + ")");
  }
  return text;
}

void WriteProfileTexts(Registry& registry,
                       const std::vector<std::pair<const char*, std::string>>& values) {
  RegistryKey key = 0;
  long result = registry.CreateKey(RegistryRoot::CurrentUser, kMailProfileKey, &key);
  if (result == kErrorSuccess) {
    for (const auto& [name, text] : values) {
      Bytes data(text.begin(), text.end());
      data.push_back(0);
      if (result == kErrorSuccess) result = registry.SetValue(key, name, kRegSz, data);
    }
    const long closed = registry.CloseKey(key);
    if (result == kErrorSuccess) result = closed;
  }
  if (result != kErrorSuccess) {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "cannot write the mail profile to " + SettingsFilePath().string());
  }
}

}  // namespace qm
