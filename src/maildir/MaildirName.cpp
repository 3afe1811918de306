#include "maildir/MaildirName.h"

#include <algorithm>

namespace qm {
namespace {

constexpr std::string_view kInfoVersion = "2,";

// Flags are single letters: upper case for the standard ones, lower case
// for the keywords some servers keep.
bool OnlyFlagLetters(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

bool IsSeparator(char c) { return c == ':' || c == '!'; }

}  // namespace

MaildirName SplitMaildirName(std::string_view name) {
  // Only the last "2," can start the info: an earlier one has this one, which
  // is no flag letter, among what follows it.
  const std::size_t at = name.rfind(kInfoVersion);
  if (at == std::string_view::npos || at == 0 || !IsSeparator(name[at - 1])) return {name, {}, 0};
  const std::string_view flags = name.substr(at + kInfoVersion.size());
  if (!OnlyFlagLetters(flags)) return {name, {}, 0};
  return {name.substr(0, at - 1), flags, name[at - 1]};
}

bool IsSeenName(std::string_view name) {
  return SplitMaildirName(name).flags.find('S') != std::string_view::npos;
}

std::string SeenName(std::string_view name, char new_separator) {
  const char own = SplitMaildirName(name).separator;
  return SeenNameWithSeparator(name, own != 0 ? own : new_separator);
}

std::string SeenNameWithSeparator(std::string_view name, char separator) {
  const MaildirName parts = SplitMaildirName(name);
  std::string flags(parts.flags);
  flags += 'S';
  std::sort(flags.begin(), flags.end());
  flags.erase(std::unique(flags.begin(), flags.end()), flags.end());
  return std::string(parts.unique) + separator + std::string(kInfoVersion) + flags;
}

}  // namespace qm
