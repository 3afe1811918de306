#include "base/Failure.h"
#include "frame/ScheduledRun.h"

namespace qm {

bool ScheduledRunOffered() { return false; }

void RegisterScheduledRun(const std::filesystem::path& /*program*/,
                          std::chrono::minutes /*every*/) {
  throw Failure(FailureKind::Internal, Cause::kInternal,
                "no task scheduler here: use a systemd timer (see the README)");
}

bool RemoveScheduledRun() { return false; }

}  // namespace qm
