#include "secrets/SessionBus.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace qm {

bool SessionBusAddressKnown() {
  const char* address = ::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return true;
  const char* runtime = ::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime != '/') return false;
  const std::string socket = std::string(runtime) + "/bus";
  struct stat info {};
  return ::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == ::getuid();
}

}  // namespace qm
