#pragma once
// What the user must know of the settings file as the program starts, said
// once: on stderr always, and in a message box when someone can see it. A
// settings file that is no regular file (a FIFO, a device, a symbolic link)
// is neither read nor written; one that keeps a password where other users
// can read it is made private to the user.

#include <filesystem>
#include <string>

namespace qm {

class ConsoleLanguage;
class Registry;

enum class SettingsFileNote {
  kNone,         // nothing to say
  kNotRegular,   // not read, and never written
  kMadePrivate,  // kept a secret open to others; private now
  kStillShared,  // kept a secret open to others, and could not be made private
};

// Looks at the settings file `file` (read through `registry`) and makes it
// private when it keeps a secret; what the user is to be told.
SettingsFileNote CheckSettingsFile(const std::filesystem::path& file, Registry& registry);

// "quillmar: ...", one line, in the console's language; empty for kNone.
std::string SettingsFileLine(SettingsFileNote note, const std::filesystem::path& file,
                             const ConsoleLanguage& language);

// CheckSettingsFile on this platform's settings file, and the note given.
void ReportSettingsFile(bool show_box);

}  // namespace qm
