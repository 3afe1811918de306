#include "save/HeldFolder.h"

#include <cerrno>

#include "save/FolderEntries.h"

namespace qm {
namespace {

// Empties the folder `name` of `folder`; true when it is still that entry
// and may go. It is closed on return: Windows removes no folder held open.
bool EmptyInnerFolder(int folder, const std::string& name, int max_depth) {
  const HeldFolder inner = HeldFolder::Open(folder, name);
  if (!inner.valid()) return false;
  EmptyFolder(inner.fd(), max_depth);
  return inner.IsEntry(folder, name);
}

}  // namespace

HeldFolder HeldFolder::Open(int parent, const std::string& name) {
  HeldFolder folder;
  folder.fd_.Reset(fs::OpenFolder(parent, name));
  if (folder.fd_.valid() && fs::InfoOf(folder.fd_.get(), folder.info_) != 0) {
    const int error = errno;
    folder.fd_.Reset();
    errno = error;
  }
  return folder;
}

bool HeldFolder::IsEntry(int parent, const std::string& name) const {
  fs::EntryInfo entry;
  return valid() && fs::InfoOfEntry(parent, name, entry) == 0 &&
         entry.kind == fs::EntryKind::kFolder && entry.identity == info_.identity;
}

void EmptyFolder(int folder, int max_depth) {
  for (const std::string& name : FolderEntries(folder)) {
    if (fs::RemoveFile(folder, name) == 0 || max_depth <= 1) continue;
    if (EmptyInnerFolder(folder, name, max_depth - 1)) fs::RemoveEmptyFolder(folder, name);
  }
}

}  // namespace qm
