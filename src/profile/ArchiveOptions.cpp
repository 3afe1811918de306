#include "profile/ArchiveOptions.h"

#include <optional>

#include "base/Failure.h"
#include "profile/ProfileValue.h"
#include "settings/Registry.h"

namespace qm {
namespace {

// "1" or "0"; anything else (absent, not text, another text) keeps `fallback`.
bool StoredChoice(Registry& registry, const char* name, bool fallback) {
  std::optional<std::string> text;
  try {
    text = ReadProfileText(registry, name);
  } catch (const Failure&) {
    return fallback;
  }
  if (text == "1") return true;
  if (text == "0") return false;
  return fallback;
}

std::string ChoiceText(bool chosen) { return chosen ? "1" : "0"; }

}  // namespace

ArchiveOptions ReadArchiveOptions(Registry& registry) {
  const ArchiveOptions defaults;
  return {StoredChoice(registry, kUnpackEncryptedValue, defaults.unpack_encrypted),
          StoredChoice(registry, kUnpackPlainValue, defaults.unpack_plain)};
}

ArchiveOptions ReadArchiveOptions() { return ReadArchiveOptions(*OpenPlatformRegistry()); }

void WriteArchiveOptions(Registry& registry, const ArchiveOptions& options) {
  WriteProfileTexts(registry, {{kUnpackEncryptedValue, ChoiceText(options.unpack_encrypted)},
                               {kUnpackPlainValue, ChoiceText(options.unpack_plain)}});
}

void WriteArchiveOptions(const ArchiveOptions& options) {
  WriteArchiveOptions(*OpenPlatformRegistry(), options);
}

}  // namespace qm
