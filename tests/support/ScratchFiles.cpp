#include "tests/support/ScratchFiles.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/FileSystem.h"
#include "base/WriteAll.h"
#include "tests/support/TempDir.h"

namespace qm::testing {
namespace {

// Held open while the program runs; let go before it is removed, as Windows
// removes no folder held open.
class ScratchFolder {
 public:
  ScratchFolder() : held_(fs::OpenFolder(fs::kNoFolder, fs::NameOf(dir_.path()))) {
    if (!held_.valid()) throw std::runtime_error("cannot hold the scratch folder");
  }
  int get() const { return held_.get(); }

 private:
  TempDir dir_;
  UniqueFd held_;
};

}  // namespace

UniqueFd NewScratchFile() {
  static const ScratchFolder folder;
  UniqueFd file(fs::CreateScratchFile(folder.get()));
  if (!file.valid()) {
    throw std::runtime_error(std::string("cannot create a scratch file: ") + std::strerror(errno));
  }
  return file;
}

UniqueFd FileHolding(const std::string& bytes) {
  UniqueFd file = NewScratchFile();
  if (WriteAllOrError(file.get(), bytes.data(), bytes.size()) != 0) {
    throw std::runtime_error("cannot fill a scratch file");
  }
  return file;
}

}  // namespace qm::testing
