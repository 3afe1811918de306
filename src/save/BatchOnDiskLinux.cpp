#include <unistd.h>

#include <cerrno>

#include "save/BatchOnDisk.h"

namespace qm {

int PutBatchOnDisk(int folder, int /*work*/, const std::vector<std::string>& /*names*/) {
  return ::syncfs(folder) == 0 ? 0 : errno;
}

bool FilesFlushedOneByOne() { return false; }

}  // namespace qm
