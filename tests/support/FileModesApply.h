#pragma once
// Root reads and writes every file whatever its mode. Tests of files that
// cannot be read take that power away from the calling thread (capabilities
// are per thread) for as long as the object lives; for any other user the
// modes apply anyway.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <stdexcept>

namespace qm::testing {

class FileModesApply {
 public:
  FileModesApply() {
    if (::geteuid() != 0) return;
    if (Get(saved_) != 0) throw std::runtime_error("capget failed");
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~(Bit(CAP_DAC_OVERRIDE) | Bit(CAP_DAC_READ_SEARCH));
    if (Set(reduced) != 0) throw std::runtime_error("capset failed");
    dropped_ = true;
  }
  ~FileModesApply() {
    if (dropped_) Set(saved_);
  }
  FileModesApply(const FileModesApply&) = delete;
  FileModesApply& operator=(const FileModesApply&) = delete;

 private:
  static unsigned Bit(int capability) { return 1u << capability; }
  static int Get(__user_cap_data_struct* data) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return static_cast<int>(::syscall(SYS_capget, &header, data));
  }
  static int Set(__user_cap_data_struct* data) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return static_cast<int>(::syscall(SYS_capset, &header, data));
  }

  __user_cap_data_struct saved_[2] = {};
  bool dropped_ = false;
};

}  // namespace qm::testing
