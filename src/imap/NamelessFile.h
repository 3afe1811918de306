#pragma once
// A file that never has a name, where the platform makes one: O_TMPFILE on
// Linux. Windows has no such file (one source per platform, chosen in CMake).

#include "base/UniqueFd.h"

namespace qm {

// A new private file in the folder held open as `folder`, readable and
// writable; invalid (errno set) when the platform or the file system makes
// none, for the caller to make a named file instead.
UniqueFd CreateNamelessFile(int folder);

}  // namespace qm
