#pragma once
// Where the settings live: a file on platforms without a registry, the
// registry on Windows.

#include <filesystem>
#include <string>

namespace qm {

// $XDG_CONFIG_HOME/Vantrel/Quillmar.reg; an unset, empty or relative
// XDG_CONFIG_HOME means $HOME/.config, as the XDG base directory rules say.
// Not on Windows.
std::filesystem::path SettingsFilePath();

// Where the settings are, as messages name it: the settings file's path, or
// "the registry" on Windows.
std::string SettingsPlace();

}  // namespace qm
