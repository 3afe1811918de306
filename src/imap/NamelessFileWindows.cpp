#include "imap/NamelessFile.h"

#include <cerrno>

namespace qm {

// Every Windows file has a name: the caller names one and removes it at once.
UniqueFd CreateNamelessFile(int /*folder*/) {
  errno = ENOTSUP;
  return UniqueFd();
}

}  // namespace qm
