#pragma once
// Skipping a test whose tools, servers, mounts or privileges are missing. CI
// installs every package the tests need and runs as root, so there
// (CI=true) a skip would hide a test that never ran: it is a failure instead.
// The macros serve GoogleTest and Qt Test alike; the test file includes its
// own framework.

#include <string>

namespace qm::testing {

// True when the environment says CI=true.
bool RunningInCi();

// `reason`, with a note that under CI=true it fails the test.
std::string CiFailure(const std::string& reason);

}  // namespace qm::testing

// Skips the current GoogleTest case with `reason`, or fails it under CI=true.
// Like GTEST_SKIP() and FAIL(), it returns from the calling function.
#define QM_SKIP_OUTSIDE_CI(reason)                \
  do {                                            \
    if (::qm::testing::RunningInCi()) {           \
      FAIL() << ::qm::testing::CiFailure(reason); \
    } else {                                      \
      GTEST_SKIP() << (reason);                   \
    }                                             \
  } while (false)

// The same for a Qt Test slot.
#define QM_QSKIP_OUTSIDE_CI(reason)                            \
  do {                                                         \
    const std::string qm_skip_reason = (reason);               \
    if (::qm::testing::RunningInCi()) {                        \
      QFAIL(::qm::testing::CiFailure(qm_skip_reason).c_str()); \
    }                                                          \
    QSKIP(qm_skip_reason.c_str());                             \
  } while (false)
