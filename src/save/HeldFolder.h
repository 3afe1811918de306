#pragma once
// A folder held open by a descriptor, opened once without following a link.
// What is inside it is reached relative to the descriptor (base/FileSystem.h),
// so that renaming the folder, or putting a link in its place, changes
// nothing for whoever holds it.

#include <cstdint>
#include <string>

#include "base/FileSystem.h"
#include "base/UniqueFd.h"

namespace qm {

class HeldFolder {
 public:
  HeldFolder() = default;

  // The folder `name` in the folder `parent`; invalid, with errno set, when
  // it is not a folder (a link is not followed) or cannot be opened.
  static HeldFolder Open(int parent, const std::string& name);

  bool valid() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  const fs::OwnerId& owner() const { return info_.owner; }
  std::uint64_t device() const { return info_.identity.device; }

  // True when the entry `name` of `parent` is this very folder still.
  bool IsEntry(int parent, const std::string& name) const;

 private:
  UniqueFd fd_;
  fs::EntryInfo info_;
};

// Removes everything in the folder `folder` through descriptors, never
// following a link, down to `max_depth` levels; what lies deeper stays.
void EmptyFolder(int folder, int max_depth);

}  // namespace qm
