#include "save/FolderEntries.h"

#include "base/FileSystem.h"

namespace qm {

std::vector<std::string> FolderEntries(int dir) {
  std::vector<std::string> names;
  if (fs::ListFolder(dir, names) != 0) names.clear();
  return names;
}

}  // namespace qm
