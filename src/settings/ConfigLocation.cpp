#include "settings/ConfigLocation.h"

#include <cstdlib>

namespace qm {

namespace {

std::filesystem::path EnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::filesystem::path() : std::filesystem::path(value);
}

std::filesystem::path ConfigHome() {
  std::filesystem::path config_home = EnvironmentPath("XDG_CONFIG_HOME");
  if (config_home.is_absolute()) return config_home;
  return EnvironmentPath("HOME") / ".config";
}

}  // namespace

std::filesystem::path SettingsFilePath() { return ConfigHome() / "Vantrel" / "Quillmar.reg"; }

}  // namespace qm
