#include "save/HeldFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "save/FolderEntries.h"

namespace qm {

HeldFolder HeldFolder::Open(int parent, const std::string& name) {
  HeldFolder folder;
  folder.fd_.Reset(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.fd_.valid() && ::fstat(folder.fd_.get(), &folder.info_) != 0) {
    const int error = errno;
    folder.fd_.Reset();
    errno = error;
  }
  return folder;
}

bool HeldFolder::IsEntry(int parent, const std::string& name) const {
  struct stat entry {};
  return valid() && ::fstatat(parent, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISDIR(entry.st_mode) && entry.st_dev == info_.st_dev && entry.st_ino == info_.st_ino;
}

void EmptyFolder(int folder, int max_depth) {
  for (const std::string& name : FolderEntries(folder)) {
    if (::unlinkat(folder, name.c_str(), 0) == 0 || max_depth <= 1) continue;
    const HeldFolder inner = HeldFolder::Open(folder, name);
    if (!inner.valid()) continue;
    EmptyFolder(inner.fd(), max_depth - 1);
    if (inner.IsEntry(folder, name)) ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace qm
