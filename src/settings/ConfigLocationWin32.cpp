#include "settings/ConfigLocation.h"

namespace qm {

std::string SettingsPlace() { return "the registry"; }

}  // namespace qm
