#pragma once
// One scan at a time for one user's settings. A scan holds an exclusive lock
// on "Quillmar.lock" while it runs (beside the settings file, by flock; on
// Windows in %LOCALAPPDATA%\Quillmar, opened shared with nobody); another
// process of the same user with the same settings (a second window, a
// scheduled run that comes round while the last one still runs) finds it
// held and does not scan. The system lets go of the lock when its holder
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
