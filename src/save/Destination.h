#pragma once
// The destination folder is checked before a scan signs on, so that a scan
// that could not save anything touches nothing and marks no message read.

#include <string>

namespace qm {

// Throws Failure(FailureKind::Destination) when `path` is empty, does not name
// an existing folder, or a file cannot be created in it.
void CheckDestination(const std::string& path);

}  // namespace qm
