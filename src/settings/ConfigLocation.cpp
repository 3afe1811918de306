#include "settings/ConfigLocation.h"

#include "base/EnvironmentVariable.h"

namespace qm {

namespace {

std::filesystem::path EnvironmentPath(const char* name) {
  return NonEmptyVariable(name).value_or("");
}

std::filesystem::path ConfigHome() {
  std::filesystem::path config_home = EnvironmentPath("XDG_CONFIG_HOME");
  if (config_home.is_absolute()) return config_home;
  return EnvironmentPath("HOME") / ".config";
}

}  // namespace

std::filesystem::path SettingsFilePath() { return ConfigHome() / "Vantrel" / "Quillmar.reg"; }

std::string SettingsPlace() { return SettingsFilePath().string(); }

}  // namespace qm
