#pragma once
// Names that carry the process id of the run that made them
// ("<prefix><pid>-<anything>"), so that what a killed run left behind can be
// told from what a running one is still using.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace qm {

// "<prefix><pid>-" for this process.
std::string RunPrefix(std::string_view prefix);

// True when `name` has the form "<prefix><pid>-..." and no process `pid` exists.
bool MadeByEndedRun(std::string_view name, std::string_view prefix);

}  // namespace qm
