#include "frame/settings/Registry.h"

#include <utility>

#ifdef _WIN32
#include "frame/settings/Win32Registry.h"
#else
#include "frame/settings/ConfigLocation.h"
#include "frame/settings/RegFileRegistry.h"
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
