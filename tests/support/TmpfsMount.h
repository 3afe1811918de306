#pragma once
// A small tmpfs mounted on a folder for the life of the object, to give a
// test a file system that fills up: mount -t tmpfs -o size=..., and later
// mount -o remount,size=... to give it room. Needs root (CAP_SYS_ADMIN); when
// the system refuses, mounted() is false and error() tells why. The file
// system is unmounted in the destructor, also after a failed assertion.

#include <cstdint>
#include <filesystem>
#include <string>

namespace qm::testing {

class TmpfsMount {
 public:
  // `target` must be an existing folder; a private one of the test, so that
  // tests running side by side never share a mount point.
  TmpfsMount(std::filesystem::path target, std::uint64_t bytes);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool mounted() const { return mounted_; }
  std::string error() const;
  const std::filesystem::path& path() const { return target_; }

  // Gives the file system a new size; what it holds stays.
  void Resize(std::uint64_t bytes);

 private:
  std::filesystem::path target_;
  bool mounted_ = false;
  int error_ = 0;
};

}  // namespace qm::testing
