#include "tests/support/EndedProcess.h"

#include <sys/wait.h>
#include <unistd.h>

namespace qm::testing {

pid_t PidOfEndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

}  // namespace qm::testing
