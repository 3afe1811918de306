#pragma once
// Reading the process's environment: a variable that is unset and one set to
// the empty text mean the same to this program.

#include <optional>
#include <string>

namespace qm {

// The value of the variable `name`; nothing when it is unset or empty.
std::optional<std::string> NonEmptyVariable(const char* name);

}  // namespace qm
