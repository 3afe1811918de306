#pragma once
// The destination folder is checked before a scan signs on, so that a scan
// that could not save anything touches nothing and marks no message read.

#include <string>

#include "base/UniqueFd.h"

namespace qm {

// The folder `path` (UTF-8; a link to a folder is followed, as the user named
// it), held open once it proved that files can be created in it. Throws
// Failure(FailureKind::Destination) when `path` is empty, does not name an
// existing folder, or a file cannot be created in it.
UniqueFd OpenDestination(const std::string& path);

// The same check, letting the folder go again.
void CheckDestination(const std::string& path);

}  // namespace qm
