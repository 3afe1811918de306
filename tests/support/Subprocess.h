#pragma once
// Runs a program with a chosen environment, collects its exit code and output,
// and kills it when it runs longer than allowed. RunningProgram is the same
// run held open: the test goes on while the program runs, may kill it after a
// delay, and then collects how it ended.

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <stdexcept>
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
                 const std::map<std::string, std::string>& env) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");
    if (::pipe(err_pipe) != 0) {
      ::close(out_pipe[0]);
      ::close(out_pipe[1]);
      throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
      posix_spawn_file_actions_addclose(&actions, fd);
    }

    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text;
    for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    const int spawned =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    fds_[0] = {out_pipe[0], POLLIN, 0};
    fds_[1] = {err_pipe[0], POLLIN, 0};
    if (spawned != 0) {
      pid_ = 0;
      ClosePipes();
      throw std::runtime_error("cannot start " + program);
    }
  }

  // A program still running when the test lets go of it is killed.
  ~RunningProgram() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    ClosePipes();
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }

  // Waits until the program ends; past `limit` it is killed (timed_out).
  ProgramResult Finish(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    if (!Collect(std::chrono::steady_clock::now() + limit)) {
      ::kill(pid_, SIGKILL);
      result_.timed_out = true;
      CollectRest();
    }
    return Reap();
  }

  // Lets the program run until `delay` after its start and kills it with
  // SIGKILL if it is still running then (killed); a program that ended before
  // is collected as it ended.
  ProgramResult KillAfter(std::chrono::microseconds delay) {
    if (!Collect(started_ + delay)) {
      ::kill(pid_, SIGKILL);
      result_.killed = true;
      CollectRest();
    }
    return Reap();
  }

 private:
  // Reads the output until both pipes close (true) or `deadline` passes (false).
  bool Collect(std::chrono::steady_clock::time_point deadline) {
    std::string* sinks[2] = {&result_.out, &result_.err};
    while (fds_[0].fd >= 0 || fds_[1].fd >= 0) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      const int ready = ::poll(fds_, 2, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) throw std::runtime_error("poll failed");
      for (int i = 0; i < 2; ++i) {
        if (fds_[i].fd < 0 || fds_[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(fds_[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          sinks[i]->append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          ::close(fds_[i].fd);
          fds_[i].fd = -1;
        }
      }
    }
    return true;
  }

  // What a killed program wrote; a process it left behind may hold the pipes
  // open, so this waits only a while.
  void CollectRest() {
    if (!Collect(std::chrono::steady_clock::now() + std::chrono::seconds(10))) ClosePipes();
  }

  ProgramResult Reap() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    if (WIFEXITED(status) && !result_.timed_out) result_.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
    // A program that ended on its own just before the kill was not killed.
    if (result_.killed && !WIFSIGNALED(status)) result_.killed = false;
    return result_;
  }

  void ClosePipes() {
    for (pollfd& p : fds_) {
      if (p.fd >= 0) ::close(p.fd);
      p.fd = -1;
    }
  }

  pid_t pid_ = 0;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  pollfd fds_[2] = {{-1, POLLIN, 0}, {-1, POLLIN, 0}};
  ProgramResult result_;
};

inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::map<std::string, std::string>& env,
                                std::chrono::seconds limit = std::chrono::seconds(60)) {
  return RunningProgram(program, args, env).Finish(limit);
}

}  // namespace qm::testing
