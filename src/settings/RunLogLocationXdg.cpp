#include "settings/RunLogLocation.h"

#include "base/EnvironmentVariable.h"

namespace qm {
namespace {

std::filesystem::path StateHome() {
  const std::filesystem::path state_home = NonEmptyVariable("XDG_STATE_HOME").value_or("");
  if (state_home.is_absolute()) return state_home;
  const std::filesystem::path home = NonEmptyVariable("HOME").value_or("");
  if (!home.is_absolute()) return {};
  return home / ".local" / "state";
}

}  // namespace

std::filesystem::path RunLogPath() {
  const std::filesystem::path state_home = StateHome();
  if (state_home.empty()) return {};
  return state_home / "quillmar" / "quillmar.log";
}

}  // namespace qm
