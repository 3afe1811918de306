#include "settings/Settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <string_view>

#include "settings/OpenedKey.h"
#include "settings/Registry.h"
#include "settings/StoredText.h"

namespace qm {

SettingsRecord Settings;

namespace {

// The largest stored check-box state or list index: 0..2 are the only meaningful ones.
constexpr int kLargestChoice = 2;

// ---------------------------------------------------------------------------
// Byte layouts of the stored values (text: see StoredText.h).

// A small number as the first of four bytes, the other three zero.
Bytes ChoiceData(int value) { return {static_cast<std::uint8_t>(value), 0, 0, 0}; }

// The first byte, when it is one of the values the program writes.
std::optional<int> ChoiceOf(const Bytes& data) {
  if (data.empty() || data.front() > kLargestChoice) return std::nullopt;
  return data.front();
}

// Decimal text as a window position: optional sign, a fraction rounded to the
// nearest integer (halves to even), spaces around it ignored. Anything else, or
// a number outside the 32-bit range, is no position.
std::optional<std::int32_t> PositionOf(std::string_view text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return std::nullopt;
  text = text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
  bool negative = text.front() == '-';
  if (negative || text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
  double number = 0;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), number, std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  number = std::nearbyint(negative ? -number : number);
  if (!(number >= std::numeric_limits<std::int32_t>::min() &&
        number <= std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(number);
}

// ---------------------------------------------------------------------------
// Reading: a missing value, or one that makes no sense, leaves the field as it is.

// The type of a value is not checked: the layout alone decides.

void ReadText(const OpenedKey& key, const char* name, std::string* field) {
  if (std::optional<RegistryData> value = key.Query(name)) *field = TextOfStored(value->data);
}

template <typename Field>
void ReadChoice(const OpenedKey& key, const char* name, Field* field) {
  std::optional<RegistryData> value = key.Query(name);
  if (!value) return;
  if (std::optional<int> choice = ChoiceOf(value->data)) *field = static_cast<Field>(*choice);
}

void ReadPosition(const OpenedKey& key, const char* name, std::int32_t* field) {
  std::optional<RegistryData> value = key.Query(name);
  if (!value) return;
  if (std::optional<std::int32_t> position = PositionOf(TextOfStored(value->data))) {
    *field = *position;
  }
}

// Each write stands on its own: a failed one does not stop the others, and
// nothing is reported.
void WriteValues(OpenedKey& key) {
  key.Set("PATH1", kRegSz, StoredText(Settings.Path));
  key.Set("KEY1", kRegSz, StoredText(Settings.Keyword));
  key.Set("ITEM1", kRegDword, ChoiceData(Settings.Item));
  key.Set("OPT1", kRegDword, ChoiceData(Settings.Opt[0]));
  key.Set("OPT2", kRegDword, ChoiceData(Settings.Opt[1]));
  key.Set("OPT3", kRegDword, ChoiceData(Settings.Opt[2]));
  key.Set("LEFT", kRegSz, StoredText(std::to_string(Settings.Left)));
  key.Set("TOP", kRegSz, StoredText(std::to_string(Settings.Top)));
}

// The machine-wide key is where the settings live. A user without the right to
// write it (on Windows, anyone who is not an administrator) keeps them under
// the same key of their own instead, and once settings are stored there they
// are the ones read and written: the user's latest choices are never hidden
// behind older machine-wide ones. The user's key alone proves nothing: it
// also holds the mail profile's subkey, made without any settings.
RegistryRoot SettingsRoot(Registry& registry) {
  const OpenedKey own(registry, RegistryRoot::CurrentUser, kSettingsKey, OpenedKey::Access::kRead);
  static constexpr const char* kValueNames[] = {"PATH1", "KEY1", "ITEM1", "OPT1",
                                                "OPT2",  "OPT3", "LEFT",  "TOP"};
  const bool holds_settings =
      std::any_of(std::begin(kValueNames), std::end(kValueNames),
                  [&own](const char* name) { return own.Query(name).has_value(); });
  return holds_settings ? RegistryRoot::CurrentUser : RegistryRoot::LocalMachine;
}

}  // namespace

void LoadSettings(Registry& registry) {
  const OpenedKey key(registry, SettingsRoot(registry), kSettingsKey, OpenedKey::Access::kRead);
  if (!key.is_open()) return;
  ReadText(key, "PATH1", &Settings.Path);
  ReadText(key, "KEY1", &Settings.Keyword);
  ReadChoice(key, "ITEM1", &Settings.Item);
  ReadChoice(key, "OPT1", &Settings.Opt[0]);
  ReadChoice(key, "OPT2", &Settings.Opt[1]);
  ReadChoice(key, "OPT3", &Settings.Opt[2]);
  ReadPosition(key, "LEFT", &Settings.Left);
  ReadPosition(key, "TOP", &Settings.Top);
}

void SaveSettings(Registry& registry) {
  const RegistryRoot root = SettingsRoot(registry);
  {
    OpenedKey key(registry, root, kSettingsKey, OpenedKey::Access::kCreate);
    if (key.is_open()) return WriteValues(key);
  }
  if (root == RegistryRoot::CurrentUser) return;
  OpenedKey own(registry, RegistryRoot::CurrentUser, kSettingsKey, OpenedKey::Access::kCreate);
  if (own.is_open()) WriteValues(own);
}

void LoadSettings() { LoadSettings(*OpenPlatformRegistry()); }

void SaveSettings() { SaveSettings(*OpenPlatformRegistry()); }

}  // namespace qm
