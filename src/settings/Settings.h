#pragma once
// The program's one process-wide record of user choices, and its persistence.

#include <array>
#include <cstdint>
#include <string>

namespace qm {

class Registry;

struct SettingsRecord {
  std::string Path;                   // destination folder, UTF-8, used as typed
  std::string Keyword;                // text the chosen field must contain, UTF-8
  std::int16_t Item = 0;              // 0 subject, 1 sender name, 2 sender address
  std::array<std::int32_t, 3> Opt{};  // check boxes: 0 unchecked, 1 checked, 2 grayed
  std::int32_t Left = 0;              // main window's outer left edge, twips
  std::int32_t Top = 0;               // main window's outer top edge, twips
  bool AutoRun = false;               // "-a" on the command line; never persisted
};

extern SettingsRecord Settings;

// Registry key and value names of the stored settings.
inline constexpr char kSettingsKey[] = "SOFTWARE\\Vantrel\\Quillmar";

// Fill Settings from the registry where values exist and are usable; every other
// field keeps what it holds. Never fails: a missing or damaged store means defaults.
void LoadSettings(Registry& registry);
void LoadSettings();  // from the platform's registry

// Write the eight persisted values from Settings: into the machine-wide key,
// or, where the user may not write that one, into the same key of their own
// (which LoadSettings then reads). Failures are silent.
void SaveSettings(Registry& registry);
void SaveSettings();  // to the platform's registry

}  // namespace qm
