#pragma once
// The edge between the event loop (or start-up) and the program's logic:
// whatever escapes an action reaches one handler as a Failure; any other
// standard exception is a fault of the program itself.

#include <exception>

#include "base/Failure.h"

namespace qm {

// Runs `action`; on a failure, returns what `on_failure` returns for it.
template <typename Action, typename Handler>
auto CatchFailures(Action&& action, Handler&& on_failure) {
  try {
    return action();
  } catch (const Failure& failure) {
    return on_failure(failure);
  } catch (const std::exception& error) {
    return on_failure(InternalFailure(error.what()));
  }
}

}  // namespace qm
