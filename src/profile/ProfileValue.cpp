#include "profile/ProfileValue.h"

#include "base/Failure.h"
#include "base/WipeSecret.h"
#include "profile/MailProfile.h"
#include "settings/ConfigLocation.h"
#include "settings/OpenedKey.h"
#include "settings/StoredText.h"

namespace qm {

std::optional<std::string> ReadProfileText(Registry& registry, const char* name) {
  const OpenedKey key(registry, RegistryRoot::CurrentUser, kMailProfileKey,
                      OpenedKey::Access::kRead);
  std::optional<RegistryData> value = key.Query(name);
  if (!value) return std::nullopt;
  std::string text = TextOfStored(value->data);
  WipeSecret(value->data);  // it may hold a secret
  if (value->type != kRegSz) {
    WipeSecret(text);
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "the mail profile value \"" + std::string(name) + "\" is not text (in " +
                      SettingsPlace() + ")");
  }
  return text;
}

void WriteProfileTexts(Registry& registry,
                       const std::vector<std::pair<const char*, std::string>>& values) {
  OpenedKey key(registry, RegistryRoot::CurrentUser, kMailProfileKey, OpenedKey::Access::kCreate);
  long result = key.is_open() ? kErrorSuccess : kErrorAccessDenied;
  for (const auto& [name, text] : values) {
    if (result == kErrorSuccess) result = key.Set(name, kRegSz, StoredText(text));
  }
  const long closed = key.Close();  // the file store writes here
  if (result != kErrorSuccess || closed != kErrorSuccess) {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "cannot write the mail profile to " + SettingsPlace());
  }
}

}  // namespace qm
