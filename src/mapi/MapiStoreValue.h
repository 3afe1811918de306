#pragma once
// The "Store" value of Outlook's own inbox: "mapi:" signs on to the mail
// program's default profile (or the session Outlook already has open),
// "mapi:NAME" to the profile NAME.

#include <optional>
#include <string>
#include <string_view>

namespace qm {

inline constexpr std::string_view kMapiScheme = "mapi:";

// True for a value that starts with "mapi:" (in any letter case).
bool IsMapiStoreValue(std::string_view store);

// The profile a "mapi:" value names; nothing for the default one. Throws
// Failure(SignOn, kNoMailbox) for a profile name no mail program takes:
// longer than 256 bytes, or holding a control character.
std::optional<std::string> MapiProfileOf(std::string_view store);

// "mapi:" followed by `profile` (none: the default).
std::string MapiStoreValue(std::string_view profile);

}  // namespace qm
