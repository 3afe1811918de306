#pragma once
// The pid of a process that has just ended, for tests of what ended runs leave.

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::testing {

inline pid_t PidOfEndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

}  // namespace qm::testing
