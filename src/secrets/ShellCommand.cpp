#include "secrets/ShellCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "base/UniqueFd.h"
#include "base/WipeSecret.h"

extern char** environ;

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

Failure StartFailure(int error) {
  const Failure system =
      FileFailure(FailureKind::SignOn, error, "cannot start the password command with /bin/sh");
  return Failure(FailureKind::SignOn, Cause::kPasswordCommand, system.what(), error);
}

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

Pipe MakePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw StartFailure(errno);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// The started shell: its process group is killed and the shell reaped when
// this goes, unless it was reaped before.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  ~Child() {
    if (pid_ <= 0) return;
    KillGroup();
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  void KillGroup() const { ::kill(-pid_, SIGKILL); }
  void Reap() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
  }
  // Reaped elsewhere: nothing is left to kill or wait for.
  void Release() { pid_ = 0; }

 private:
  pid_t pid_;
};

// Spawn attributes: a new process group, and signals as a fresh program
// expects them, whatever this process blocks or ignores.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attr_);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setsigdefault(&attr_, &all);
    posix_spawnattr_setpgroup(&attr_, 0);
    posix_spawnattr_setflags(
        &attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

class FileActions {
 public:
  FileActions(int out, int err) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions_, out, 1);
    posix_spawn_file_actions_adddup2(&actions_, err, 2);
  }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

pid_t Spawn(const std::string& command, int out, int err) {
  const SpawnAttributes attributes;
  const FileActions actions(out, err);
  std::string shell = "/bin/sh";
  std::string flag = "-c";
  std::string line = command;
  char* argv[] = {shell.data(), flag.data(), line.data(), nullptr};
  pid_t pid = 0;
  const int result =
      ::posix_spawn(&pid, shell.c_str(), actions.get(), attributes.get(), argv, environ);
  WipeSecret(line);  // a command line may carry a secret of its own
  if (result != 0) throw StartFailure(result);
  return pid;
}

// Appends what the pipe holds now, up to `limit` bytes in `sink`, and notes
// in `overflowed` when it drops some; false at its end.
bool Drain(int fd, std::string& sink, std::size_t limit, bool& overflowed) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      const std::size_t room = limit > sink.size() ? limit - sink.size() : 0;
      if (static_cast<std::size_t>(n) > room) overflowed = true;
      sink.append(buffer, std::min(room, static_cast<std::size_t>(n)));
      ::explicit_bzero(buffer, sizeof buffer);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
}

// The status of a process known to have ended, read without blocking: the
// exit of the shell is what ends the run, not the end of its pipes, which a
// process it left in the background may hold open.
int ExitedStatus(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == pid ? status : -1;
}

// The started shell's outputs, collected until it ends.
class Run {
 public:
  Run(const std::string& command, const ShellCommandLimits& limits)
      : limits_(limits),
        out_(MakePipe()),
        err_(MakePipe()),
        child_(Spawn(command, out_.write.get(), err_.write.get())) {
    out_.write.Reset();
    err_.write.Reset();
    exited_.Reset(static_cast<int>(::syscall(SYS_pidfd_open, child_.pid(), 0)));
    if (!exited_.valid()) throw StartFailure(errno);
    for (int fd : {out_.read.get(), err_.read.get()}) ::fcntl(fd, F_SETFL, O_NONBLOCK);
    result_.out.reserve(limits.out_bytes);  // never moved, so one wipe covers every byte
  }

  // Waits up to `wait` for output or the shell's end; true when it ended.
  bool Await(std::chrono::milliseconds wait, const Cancellation* cancel) {
    std::vector<pollfd> fds = {{exited_.get(), POLLIN, 0},
                               {out_open_ ? out_.read.get() : -1, POLLIN, 0},
                               {err_open_ ? err_.read.get() : -1, POLLIN, 0}};
    if (cancel != nullptr) fds.push_back({cancel->fd(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) < 0 && errno != EINTR) {
      throw StartFailure(errno);
    }
    if (cancel != nullptr && cancel->Requested()) throw CancelledWhile("the password command");
    ReadOutputs();
    if ((fds[0].revents & POLLIN) == 0) return false;
    const int status = ExitedStatus(child_.pid());
    if (status < 0) return false;
    child_.Release();
    ReadOutputs();  // what it wrote just before its end
    if (WIFEXITED(status)) result_.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
    return true;
  }

  void KillForTimeOut() {
    child_.KillGroup();
    child_.Reap();
    result_.timed_out = true;
  }

  ShellCommandResult TakeResult() { return std::move(result_); }

 private:
  void ReadOutputs() {
    if (out_open_) {
      out_open_ = Drain(out_.read.get(), result_.out, limits_.out_bytes, result_.out_overflowed);
    }
    bool err_overflowed = false;  // the error text is only ever the start
    if (err_open_)
      err_open_ = Drain(err_.read.get(), result_.err, limits_.err_bytes, err_overflowed);
  }

  ShellCommandLimits limits_;
  Pipe out_;
  Pipe err_;
  Child child_;
  UniqueFd exited_;
  bool out_open_ = true;
  bool err_open_ = true;
  ShellCommandResult result_;
};

}  // namespace

ShellCommandResult::~ShellCommandResult() { WipeSecret(out); }

std::string SignalName(int signal) {
  const char* name = ::sigabbrev_np(signal);
  return name != nullptr ? "SIG" + std::string(name) : std::to_string(signal);
}

ShellCommandResult RunShellCommand(const std::string& command, const ShellCommandLimits& limits,
                                   const Cancellation* cancel) {
  Run run(command, limits);
  const Clock::time_point deadline = Clock::now() + limits.time;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      run.KillForTimeOut();
      break;
    }
    if (run.Await(left, cancel)) break;
  }
  return run.TakeResult();
}

}  // namespace qm
