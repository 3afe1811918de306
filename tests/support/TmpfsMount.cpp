#include "tests/support/TmpfsMount.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qm::testing {
namespace {

constexpr unsigned long kFlags = MS_NOSUID | MS_NODEV;

std::string Options(std::uint64_t bytes) { return "size=" + std::to_string(bytes); }

}  // namespace

TmpfsMount::TmpfsMount(std::filesystem::path target, std::uint64_t bytes)
    : target_(std::move(target)) {
  if (::mount("tmpfs", target_.c_str(), "tmpfs", kFlags, Options(bytes).c_str()) == 0) {
    mounted_ = true;
  } else {
    error_ = errno;
  }
}

TmpfsMount::~TmpfsMount() {
  if (!mounted_) return;
  // A process that still has a file open there keeps a plain unmount from
  // working; the file system then goes once the last user lets go.
  if (::umount2(target_.c_str(), 0) != 0) ::umount2(target_.c_str(), MNT_DETACH);
}

std::string TmpfsMount::error() const { return std::strerror(error_); }

void TmpfsMount::Resize(std::uint64_t bytes) {
  if (!mounted_) throw std::logic_error("nothing mounted on " + target_.string());
  if (::mount("tmpfs", target_.c_str(), nullptr, MS_REMOUNT | kFlags, Options(bytes).c_str()) !=
      0) {
    throw std::runtime_error("remounting " + target_.string() + ": " + std::strerror(errno));
  }
}

}  // namespace qm::testing
