#include "save/FolderEntries.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <string_view>

namespace qm {

std::vector<std::string> FolderEntries(int dir) {
  std::vector<std::string> names;
  // A duplicate would share the read position with `dir`: open it afresh.
  const int own = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = own >= 0 ? ::fdopendir(own) : nullptr;
  if (listing == nullptr) {
    if (own >= 0) ::close(own);
    return names;
  }
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(listing);
  return names;
}

}  // namespace qm
