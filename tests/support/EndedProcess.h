#pragma once
// The pid of a process that has just ended, for tests of what ended runs leave.

#include <sys/types.h>

namespace qm::testing {

pid_t PidOfEndedProcess();

}  // namespace qm::testing
