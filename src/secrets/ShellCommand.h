#pragma once
// Runs a command line of the user's through the system's shell, with no
// input, and collects what it prints, within a time limit. Past the limit, or
// on a cancel, every process it started is killed.
//   POSIX (ShellCommand.cpp): /bin/sh -c, in a process group of its own.
//   Windows (ShellCommandWin32.cpp): cmd.exe /d /s /c "command", in a job
//   object that ends with it.

#include <chrono>
#include <cstddef>
#include <string>

namespace qm {

class Cancellation;

struct ShellCommandResult {
  std::string out;     // its standard output, up to the limit given; wiped when the result goes
  std::string err;     // its standard error, up to the limit given
  int exit_code = -1;  // -1 when a signal or the time limit ended it
  int signal = 0;      // the signal that ended it, if one did
  bool timed_out = false;
  bool out_overflowed = false;  // it printed more than the limit: the rest was dropped

  ShellCommandResult() = default;
  ShellCommandResult(const ShellCommandResult&) = delete;
  ShellCommandResult& operator=(const ShellCommandResult&) = delete;
  ShellCommandResult(ShellCommandResult&&) = default;
  ~ShellCommandResult();
};

struct ShellCommandLimits {
  std::chrono::milliseconds time;
  std::size_t out_bytes;  // more output is read and dropped
  std::size_t err_bytes;
};

// "SIGTERM" for SIGTERM, the number for a signal without a name.
std::string SignalName(int signal);

// Throws Failure(SignOn, kPasswordCommand) when the shell cannot be started,
// and CancelledWhile() when `cancel` is requested during the run.
ShellCommandResult RunShellCommand(const std::string& command, const ShellCommandLimits& limits,
                                   const Cancellation* cancel = nullptr);

}  // namespace qm
