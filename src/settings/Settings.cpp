#include "settings/Settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "settings/AnsiText.h"
#include "settings/Registry.h"

namespace qm {

SettingsRecord Settings;

namespace {

// The largest stored check-box state or list index: 0..2 are the only meaningful ones.
constexpr int kLargestChoice = 2;

// Closes the key however the operation ends.
class KeyGuard {
 public:
  KeyGuard(Registry& registry, RegistryKey key) : registry_(registry), key_(key) {}
  ~KeyGuard() { registry_.CloseKey(key_); }
  KeyGuard(const KeyGuard&) = delete;
  KeyGuard& operator=(const KeyGuard&) = delete;

 private:
  Registry& registry_;
  RegistryKey key_;
};

// ---------------------------------------------------------------------------
// Byte layouts of the stored values.

// Text in the ANSI character set, closed by one NUL that the length counts.
Bytes TextData(const std::string& utf8) {
  std::string ansi = ToAnsi(utf8);
  Bytes data(ansi.begin(), ansi.end());
  data.push_back(0);
  return data;
}

// A small number as the first of four bytes, the other three zero.
Bytes ChoiceData(int value) { return {static_cast<std::uint8_t>(value), 0, 0, 0}; }

// The bytes before the first NUL, or all of them when there is none.
std::string TextOf(const Bytes& data) {
  auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
  return FromAnsi(std::string(data.begin(), end));
}

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

std::optional<Bytes> Query(Registry& registry, RegistryKey key, const char* name) {
  std::uint32_t type = 0;  // not checked: the layout alone decides
  Bytes data;
  if (registry.QueryValue(key, name, &type, &data) != kErrorSuccess) return std::nullopt;
  return data;
}

void ReadText(Registry& registry, RegistryKey key, const char* name, std::string* field) {
  if (std::optional<Bytes> data = Query(registry, key, name)) *field = TextOf(*data);
}

template <typename Field>
void ReadChoice(Registry& registry, RegistryKey key, const char* name, Field* field) {
  std::optional<Bytes> data = Query(registry, key, name);
  if (!data) return;
  if (std::optional<int> choice = ChoiceOf(*data)) *field = static_cast<Field>(*choice);
}

void ReadPosition(Registry& registry, RegistryKey key, const char* name, std::int32_t* field) {
  std::optional<Bytes> data = Query(registry, key, name);
  if (!data) return;
  if (std::optional<std::int32_t> position = PositionOf(TextOf(*data))) *field = *position;
}

}  // namespace

void LoadSettings(Registry& registry) {
  RegistryKey key = 0;
  if (registry.OpenKey(RegistryRoot::LocalMachine, kSettingsKey, &key) != kErrorSuccess) return;
  KeyGuard guard(registry, key);
  ReadText(registry, key, "PATH1", &Settings.Path);
  ReadText(registry, key, "KEY1", &Settings.Keyword);
  ReadChoice(registry, key, "ITEM1", &Settings.Item);
  ReadChoice(registry, key, "OPT1", &Settings.Opt[0]);
  ReadChoice(registry, key, "OPT2", &Settings.Opt[1]);
  ReadChoice(registry, key, "OPT3", &Settings.Opt[2]);
  ReadPosition(registry, key, "LEFT", &Settings.Left);
  ReadPosition(registry, key, "TOP", &Settings.Top);
}

// Each write stands on its own: a failed one does not stop the others, and
// nothing is reported.
void SaveSettings(Registry& registry) {
  RegistryKey key = 0;
  if (registry.CreateKey(RegistryRoot::LocalMachine, kSettingsKey, &key) != kErrorSuccess) return;
  KeyGuard guard(registry, key);
  registry.SetValue(key, "PATH1", kRegSz, TextData(Settings.Path));
  registry.SetValue(key, "KEY1", kRegSz, TextData(Settings.Keyword));
  registry.SetValue(key, "ITEM1", kRegDword, ChoiceData(Settings.Item));
  registry.SetValue(key, "OPT1", kRegDword, ChoiceData(Settings.Opt[0]));
  registry.SetValue(key, "OPT2", kRegDword, ChoiceData(Settings.Opt[1]));
  registry.SetValue(key, "OPT3", kRegDword, ChoiceData(Settings.Opt[2]));
  registry.SetValue(key, "LEFT", kRegSz, TextData(std::to_string(Settings.Left)));
  registry.SetValue(key, "TOP", kRegSz, TextData(std::to_string(Settings.Top)));
}

void LoadSettings() { LoadSettings(*OpenPlatformRegistry()); }

void SaveSettings() { SaveSettings(*OpenPlatformRegistry()); }

}  // namespace qm
