#include <cerrno>

#include "base/FileSystem.h"
#include "save/BatchOnDisk.h"

namespace qm {

// NTFS journals the entries themselves, so what is left is each file's bytes.
int PutBatchOnDisk(int /*folder*/, int work, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (fs::FlushEntry(work, name) != 0) return errno;
  }
  return 0;
}

bool FilesFlushedOneByOne() { return true; }

}  // namespace qm
