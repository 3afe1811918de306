#include "tests/support/CiSkip.h"

#include <cstdlib>
#include <string_view>

namespace qm::testing {

bool RunningInCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string_view(ci) == "true";
}

std::string CiFailure(const std::string& reason) {
  return reason + " (under CI=true a skipped test counts as a failure)";
}

}  // namespace qm::testing
