#pragma once
// The parts of a Maildir message file name: a unique part, then the info
// ":2," and the flags, sorted ("1220863042.12663_1.host:2,FS"). File systems
// that refuse ':' in names (FAT, exFAT, SMB shares of Windows servers) get
// "!2," instead; tools offer it as an option, and such folders are synced to
// Linux too. Windows refuses ':' in every file name: there this program
// writes '!' (MaildirSeparator.h). A message is keyed on its unique part, which never changes while
// other clients rename the file to change its flags.

#include <string>
#include <string_view>

namespace qm {

struct MaildirName {
  std::string_view unique;  // the whole name when it carries no info
  std::string_view flags;   // the letters after the info, "" when none
  char separator = 0;       // ':' or '!' before "2,", 0 when there is no info
};

// Splits `name`. The info is the last ":2," or "!2," that only flag letters
// follow; anything else belongs to the unique part.
MaildirName SplitMaildirName(std::string_view name);

// True when the flags of `name` include S (seen).
bool IsSeenName(std::string_view name);

// The name of the same message marked seen: the unique part, the info with
// the separator the name has (`new_separator` when it has none), and its
// flags plus S, sorted, without duplicates.
std::string SeenName(std::string_view name, char new_separator);

// The same, with `separator` before the info whatever the name had.
std::string SeenNameWithSeparator(std::string_view name, char separator);

}  // namespace qm
