#pragma once
// A small tmpfs mounted on a folder for the life of the object, to give a
// test a file system that fills up: mount -t tmpfs -o size=..., and later
// mount -o remount,size=... to give it room. Needs root (CAP_SYS_ADMIN); when
// the system refuses, mounted() is false and error() tells why. The file
// system is unmounted in the destructor, also after a failed assertion.

#include <sys/mount.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace qm::testing {

class TmpfsMount {
 public:
  // `target` must be an existing folder; a private one of the test, so that
  // tests running side by side never share a mount point.
  TmpfsMount(std::filesystem::path target, std::uint64_t bytes) : target_(std::move(target)) {
    if (::mount("tmpfs", target_.c_str(), "tmpfs", kFlags, Options(bytes).c_str()) == 0) {
      mounted_ = true;
    } else {
      error_ = errno;
    }
  }
  ~TmpfsMount() {
    if (!mounted_) return;
    // A process that still has a file open there keeps a plain unmount from
    // working; the file system then goes once the last user lets go.
    if (::umount2(target_.c_str(), 0) != 0) ::umount2(target_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool mounted() const { return mounted_; }
  std::string error() const { return std::strerror(error_); }
  const std::filesystem::path& path() const { return target_; }

  // Gives the file system a new size; what it holds stays.
  void Resize(std::uint64_t bytes) {
    if (!mounted_) throw std::logic_error("nothing mounted on " + target_.string());
    if (::mount("tmpfs", target_.c_str(), nullptr, MS_REMOUNT | kFlags, Options(bytes).c_str()) !=
        0) {
      throw std::runtime_error("remounting " + target_.string() + ": " + std::strerror(errno));
    }
  }

 private:
  static constexpr unsigned long kFlags = MS_NOSUID | MS_NODEV;

  static std::string Options(std::uint64_t bytes) { return "size=" + std::to_string(bytes); }

  std::filesystem::path target_;
  bool mounted_ = false;
  int error_ = 0;
};

}  // namespace qm::testing
