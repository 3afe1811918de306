#pragma once
// Skipping a test whose tools or privileges are missing. CI installs every
// package the tests need and runs as root, so there (CI=true) a skip would
// hide a test that never ran: it is a failure instead.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace qm::testing {

inline bool RunningInCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string_view(ci) == "true";
}

}  // namespace qm::testing

// Skips the current test with `reason`, or fails it under CI=true. Like
// GTEST_SKIP() and FAIL(), it returns from the calling function.
#define QM_SKIP_OUTSIDE_CI(reason)                                                 \
  do {                                                                             \
    if (::qm::testing::RunningInCi()) {                                            \
      FAIL() << (reason) << " (under CI=true a skipped test counts as a failure)"; \
    } else {                                                                       \
      GTEST_SKIP() << (reason);                                                    \
    }                                                                              \
  } while (false)
