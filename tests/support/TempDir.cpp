#include "tests/support/TempDir.h"

#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace qm::testing {

namespace fs = std::filesystem;

// A name nobody has taken, made private to its owner as mkdtemp would (no
// mkdtemp on Windows).
TempDir::TempDir() {
  std::mt19937_64 random(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("qm-test-" + std::to_string(random()));
    if (!fs::create_directory(candidate)) continue;  // taken
    fs::permissions(candidate, fs::perms::owner_all);
    path_ = candidate;
    return;
  }
  throw std::runtime_error("no free name for a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave read-only folders behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

}  // namespace qm::testing
