#include "frame/NoCoreFiles.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace qm {

void KeepOutOfCoreFiles() {
#ifdef __linux__
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

}  // namespace qm
