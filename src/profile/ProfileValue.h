#pragma once
// Text values of the mail profile (the key kMailProfileKey of the current
// user), read and written one by one, stored as every text of the settings
// (see settings/StoredText.h).

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qm {

class Registry;

// Nothing when the key or the value is absent. Throws Failure(SignOn,
// kNoMailbox) when the value is not text.
std::optional<std::string> ReadProfileText(Registry& registry, const char* name);

// Writes every pair; throws Failure(SignOn, kNoMailbox) naming the settings
// file when the store refuses.
void WriteProfileTexts(Registry& registry,
                       const std::vector<std::pair<const char*, std::string>>& values);

}  // namespace qm
