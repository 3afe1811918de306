#include "settings/Registry.h"

#include <utility>

#ifdef _WIN32
#include "settings/Win32Registry.h"
#else
#include "settings/ConfigLocation.h"
#include "settings/RegFileRegistry.h"
#endif

namespace qm {

std::unique_ptr<Registry> OpenPlatformRegistry([[maybe_unused]] SetAsideNotice notice) {
#ifdef _WIN32
  return std::make_unique<Win32Registry>();
#else
  return std::make_unique<RegFileRegistry>(SettingsFilePath(), std::move(notice));
#endif
}

}  // namespace qm
