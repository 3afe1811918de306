#pragma once
// Runs a program with a chosen environment, collects its exit code and output,
// and kills it when it runs longer than allowed. RunningProgram is the same
// run held open: the test goes on while the program runs, may kill it after a
// delay, and then collects how it ended.

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace qm::testing {

struct ProgramResult {
  int exit_code = -1;  // -1 when killed by a signal or the time limit
  bool timed_out = false;
  bool killed = false;  // ended by RunningProgram::KillAfter's SIGKILL
  int signal = 0;       // the signal that ended it, if one did
  std::string out;
  std::string err;
};

class RunningProgram {
 public:
  RunningProgram(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env);
  // A program still running when the test lets go of it is killed.
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }

  // Waits until the program ends; past `limit` it is killed (timed_out).
  ProgramResult Finish(std::chrono::milliseconds limit = std::chrono::seconds(60));

  // Lets the program run until `delay` after its start and kills it with
  // SIGKILL if it is still running then (killed); a program that ended before
  // is collected as it ended.
  ProgramResult KillAfter(std::chrono::microseconds delay);

 private:
  // Reads the output until both pipes close (true) or `deadline` passes (false).
  bool Collect(std::chrono::steady_clock::time_point deadline);
  // What a killed program wrote; a process it left behind may hold the pipes
  // open, so this waits only a while.
  void CollectRest();
  ProgramResult Reap();
  void ClosePipes();

  pid_t pid_ = 0;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  pollfd fds_[2] = {{-1, POLLIN, 0}, {-1, POLLIN, 0}};
  ProgramResult result_;
};

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env,
                         std::chrono::seconds limit = std::chrono::seconds(60));

// Waits until the process `pid` (a child or not) has ended: gone, or a
// zombie that only waits to be reaped. False when it still runs after `limit`.
bool WaitForProcessEnd(pid_t pid, std::chrono::milliseconds limit);

}  // namespace qm::testing
