#pragma once
// A temporary folder held open as a descriptor for as long as it exists, the
// way the program hands a folder to the code that writes into it.

#include <fcntl.h>

#include "base/UniqueFd.h"
#include "tests/support/TempDir.h"

namespace qm::testing {

class HeldTempDir : public TempDir {
 public:
  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_{::open(path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
};

}  // namespace qm::testing
