#include "frame/ReportSettingsFile.h"

namespace qm {

// On Windows the settings live in the registry, which is neither a file
// another program can swap for something else nor one other users can read:
// there is nothing to check and nothing to tell.
void ReportSettingsFile(bool /*show_box*/) {}

}  // namespace qm
