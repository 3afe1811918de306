#include "secrets/SessionBus.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/EnvironmentVariable.h"

namespace qm {

bool SessionBusAddressKnown() {
  if (NonEmptyVariable("DBUS_SESSION_BUS_ADDRESS")) return true;
  const std::string runtime = NonEmptyVariable("XDG_RUNTIME_DIR").value_or("");
  if (!runtime.starts_with('/')) return false;
  const std::string socket = runtime + "/bus";
  struct stat info {};
  return ::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == ::getuid();
}

}  // namespace qm
