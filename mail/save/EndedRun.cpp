#include "mail/save/EndedRun.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace qm {
namespace {

// The pid in "<prefix><pid>-..."; 0 when the name is not of that form.
pid_t PidOfName(std::string_view name, std::string_view prefix) {
  if (name.substr(0, prefix.size()) != prefix) return 0;
  name.remove_prefix(prefix.size());
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc() || end == name.data() || end == name.data() + name.size() ||
      *end != '-' || pid <= 0) {
    return 0;
  }
  return pid;
}

}  // namespace

std::string RunPrefix(std::string_view prefix) {
  return std::string(prefix) + std::to_string(::getpid()) + "-";
}

bool MadeByEndedRun(std::string_view name, std::string_view prefix) {
  const pid_t pid = PidOfName(name, prefix);
  return pid != 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace qm
