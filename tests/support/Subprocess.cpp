#include "tests/support/Subprocess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "base/UniqueFd.h"

namespace qm::testing {

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& args,
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

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  ClosePipes();
}

ProgramResult RunningProgram::Finish(std::chrono::milliseconds limit) {
  if (!Collect(std::chrono::steady_clock::now() + limit)) {
    ::kill(pid_, SIGKILL);
    result_.timed_out = true;
    CollectRest();
  }
  return Reap();
}

ProgramResult RunningProgram::KillAfter(std::chrono::microseconds delay) {
  if (!Collect(started_ + delay)) {
    ::kill(pid_, SIGKILL);
    result_.killed = true;
    CollectRest();
  }
  return Reap();
}

bool RunningProgram::Collect(std::chrono::steady_clock::time_point deadline) {
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

void RunningProgram::CollectRest() {
  if (!Collect(std::chrono::steady_clock::now() + std::chrono::seconds(10))) ClosePipes();
}

ProgramResult RunningProgram::Reap() {
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = 0;
  if (WIFEXITED(status) && !result_.timed_out) result_.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
  // A program that ended on its own just before the kill was not killed.
  if (result_.killed && !WIFSIGNALED(status)) result_.killed = false;
  return result_;
}

void RunningProgram::ClosePipes() {
  for (pollfd& p : fds_) {
    if (p.fd >= 0) ::close(p.fd);
    p.fd = -1;
  }
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env,
                         std::chrono::seconds limit) {
  return RunningProgram(program, args, env).Finish(limit);
}

bool WaitForProcessEnd(pid_t pid, std::chrono::milliseconds limit) {
  // A process descriptor turns readable when the process ends, whoever its parent.
  const UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (!process.valid()) return errno == ESRCH;  // gone already
  pollfd ended{process.get(), POLLIN, 0};
  int ready;
  while ((ready = ::poll(&ended, 1, static_cast<int>(limit.count()))) < 0 && errno == EINTR) {
  }
  return ready > 0;
}

}  // namespace qm::testing
