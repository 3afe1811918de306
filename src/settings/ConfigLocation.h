#pragma once
// Where the settings file lives on platforms without a registry.

#include <filesystem>

namespace qm {

// $XDG_CONFIG_HOME/Vantrel/Quillmar.reg; an unset, empty or relative
// XDG_CONFIG_HOME means $HOME/.config, as the XDG base directory rules say.
std::filesystem::path SettingsFilePath();

}  // namespace qm
