#include "base/EnvironmentVariable.h"

#include <cstdlib>

namespace qm {

std::optional<std::string> NonEmptyVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

}  // namespace qm
