#pragma once
// A digest of a file's bytes, so that a file is compared byte by byte only
// with files that very likely hold the same bytes.

#include <string>

namespace qm {

// The SHA-256 of the regular file `name` in the folder `dir` (no link
// followed, nothing that could block opened); "" when it cannot be read.
std::string ContentDigest(int dir, const std::string& name);

// The same of the file open as `fd`, read from its start (its offset stays).
std::string ContentDigestOf(int fd);

}  // namespace qm
