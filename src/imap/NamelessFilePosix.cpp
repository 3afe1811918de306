#include "imap/NamelessFile.h"

#include <fcntl.h>

namespace qm {

// FUSE, SMB and exFAT refuse O_TMPFILE.
UniqueFd CreateNamelessFile(int folder) {
  return UniqueFd(::openat(folder, ".", O_RDWR | O_TMPFILE | O_CLOEXEC, 0600));
}

}  // namespace qm
