#pragma once
// libzip's errors about one entry as ArchiveFailures.

#include <cstdint>
#include <string>

#include "archive/ArchiveFailure.h"

struct zip_error;

namespace qm {

// "archive entry <index>": how failures name an entry.
std::string EntryLabel(std::uint64_t index);

// Throws the ArchiveFailure for `error`: a wrong or missing password, a CRC
// or authentication code that does not match and data the decompressor
// refuses (what a wrong key makes of data, too) each as such, the rest as
// damage.
[[noreturn]] void ThrowEntryError(zip_error* error, std::uint64_t index);

// Throws ArchiveFailure(`problem`) about entry `index`.
[[noreturn]] void ThrowEntryProblem(ArchiveProblem problem, std::uint64_t index,
                                    const std::string& what);

}  // namespace qm
