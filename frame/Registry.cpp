#include "frame/Registry.h"

#ifdef _WIN32
#include "frame/Win32Registry.h"
#else
#include "frame/ConfigLocation.h"
#include "frame/RegFileRegistry.h"
#endif

namespace qm {

std::unique_ptr<Registry> OpenPlatformRegistry() {
#ifdef _WIN32
  return std::make_unique<Win32Registry>();
#else
  return std::make_unique<RegFileRegistry>(SettingsFilePath());
#endif
}

}  // namespace qm
