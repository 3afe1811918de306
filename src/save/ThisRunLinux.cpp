// This run as Linux shows it: the host name, the machine id of systemd and
// the kernel's random boot id; kill(pid, 0) tells whether a process runs.

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "base/UniqueFd.h"
#include "save/ThisRun.h"

namespace qm {
namespace {

constexpr const char* kBootIdFile = "/proc/sys/kernel/random/boot_id";
constexpr const char* kMachineIdFile = "/etc/machine-id";

// The first bytes of a small system file; empty when it cannot be read.
std::string ReadIdFile(const char* path) {
  const UniqueFd file(::open(path, O_RDONLY | O_CLOEXEC));
  char text[64] = {};
  const ssize_t got = file.valid() ? ::read(file.get(), text, sizeof text - 1) : -1;
  return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : std::string();
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace

std::string ThisMachine() { return HostName() + "\n" + ReadIdFile(kMachineIdFile); }

std::string ThisBoot() { return ReadIdFile(kBootIdFile); }

std::int64_t ThisProcessId() { return ::getpid(); }

bool ProcessIsGone(std::int64_t pid) {
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace qm
