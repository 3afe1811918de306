#pragma once
// Names that tell which run of the program made them, so that what a killed
// run left behind can be told from what a running one is still using, also
// in a folder that several computers (or a container and its host) share:
// "<prefix><host>.<boot>-<pid>-<anything>", where <host> is a token of the
// host name and machine id and <boot> one of the boot (ThisRun.h tells
// where each platform keeps them).
//
// Names of the older form "<prefix><pid>-<anything>" carry no host: they
// count as made by an ended run when no process of that pid exists here.
// Whoever asks must also check that the entry belongs to this user.

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

class RunNames {
 public:
  // This process on this host, naming with `prefix`.
  static RunNames OfThisRun(std::string prefix);
  // A run given by its tokens (tests and the tokens read above).
  RunNames(std::string prefix, std::string host, std::string boot, std::int64_t pid);

  // "<prefix><host>.<boot>-<pid>-": what this run's names start with.
  std::string Prefix() const;

  // True when `name` was made by a run on this host that has ended: one of
  // an earlier boot, or one of this boot whose process is gone or is this
  // one (asked before this run makes any name, so an earlier process of the
  // same pid made it). False for the names of other hosts, of running
  // processes, and for other names.
  bool MadeByEndedRun(std::string_view name) const;

 private:
  std::string prefix_;
  std::string host_;
  std::string boot_;
  std::int64_t pid_;
};

// The tokens of RunNames::OfThisRun: eight hex digits each.
std::string HostToken(std::string_view host_name);
std::string BootToken(std::string_view boot_id);

}  // namespace qm
