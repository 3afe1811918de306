#pragma once
// The kind of Failure an action throws, for tables of refusals.

#include <gtest/gtest.h>

#include <functional>

#include "base/Failure.h"

namespace qm::testing {

inline FailureKind KindOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Failure& failure) {
    return failure.kind();
  }
  ADD_FAILURE() << "no failure";
  return FailureKind::Internal;
}

}  // namespace qm::testing
