#pragma once
// A temporary folder held open as a descriptor for as long as it exists, the
// way the program hands a folder to the code that writes into it.

#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "tests/support/TempDir.h"

namespace qm::testing {

class HeldTempDir : public TempDir {
 public:
  int fd() const { return fd_.get(); }

 private:
  // Closed before the folder is removed: Windows removes no held folder.
  UniqueFd fd_{qm::fs::OpenFolder(qm::fs::kNoFolder, qm::fs::NameOf(path()))};
};

}  // namespace qm::testing
