#include <windows.h>

#include "frame/NoCoreFiles.h"

namespace qm {

// Windows has no core files; what comes closest is the crash dialog, whose
// report may carry the process's memory, and which would keep an unattended
// run waiting for a click that never comes. Neither is offered, nor the
// "insert a disk" box of a drive that is not ready: such errors go to the
// program, which reports them itself.
void KeepOutOfCoreFiles() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

}  // namespace qm
