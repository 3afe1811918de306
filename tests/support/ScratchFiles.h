#pragma once
// Files for the tests to hand over as messages or scratch files: unnamed
// files in a folder of their own for the whole test program, the same on
// every platform. The tests look at what is in them, not where they are.

#include <string>

#include "base/UniqueFd.h"

namespace qm::testing {

// An empty scratch file, gone once closed.
UniqueFd NewScratchFile();

// A scratch file holding `bytes`.
UniqueFd FileHolding(const std::string& bytes);

}  // namespace qm::testing
