#pragma once
// An exFAT file system (as on USB sticks and SD cards) for one test: an image
// file in a fresh folder, formatted with mkfs.exfat, attached to a loop
// device and mounted through exfat-fuse. Unmounted and detached again in the
// destructor. Needs root and Debian's exfatprogs and exfat-fuse; Missing()
// says what is lacking.

#include <filesystem>
#include <string>

#include "tests/support/TempDir.h"

namespace qm::testing {

class ExfatMount {
 public:
  static constexpr char kMkfs[] = "/sbin/mkfs.exfat";
  static constexpr char kMount[] = "/sbin/mount.exfat-fuse";

  // Why an exFAT folder cannot be made here; empty when it can.
  static std::string Missing();

  explicit ExfatMount(int megabytes = 64);
  ~ExfatMount();
  ExfatMount(const ExfatMount&) = delete;
  ExfatMount& operator=(const ExfatMount&) = delete;

  std::filesystem::path mount_point() const { return dir_ / "mnt"; }

 private:
  TempDir dir_;
  std::string device_;
};

}  // namespace qm::testing
