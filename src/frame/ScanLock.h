#pragma once
// One scan at a time for one settings file. A scan holds an exclusive lock
// (flock) on "Quillmar.lock" beside the settings file while it runs; another
// process of the same user with the same settings (a second window, a
// scheduled run that comes round while the last one still runs) finds it
// held and does not scan. The kernel lets go of the lock when its holder
// ends, however it ends: nothing stale is ever left to judge.

#include "base/UniqueFd.h"

namespace qm {

class ScanLock {
 public:
  // Takes the lock. Throws Failure(Overlap, kScanRunning) when another scan
  // holds it; Failure(Internal, kSystem) when the lock file cannot be
  // opened or locked.
  ScanLock();

 private:
  UniqueFd file_;
};

}  // namespace qm
