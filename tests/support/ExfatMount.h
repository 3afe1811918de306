#pragma once
// An exFAT file system (as on USB sticks and SD cards) for one test: an image
// file in a fresh folder, formatted with mkfs.exfat, attached to a loop
// device and mounted through exfat-fuse. Unmounted and detached again in the
// destructor. Needs root and Debian's exfatprogs and exfat-fuse; Missing()
// says what is lacking.

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace qm::testing {

class ExfatMount {
 public:
  static constexpr char kMkfs[] = "/sbin/mkfs.exfat";
  static constexpr char kMount[] = "/sbin/mount.exfat-fuse";

  // Why an exFAT folder cannot be made here; empty when it can.
  static std::string Missing() {
    if (::geteuid() != 0) return "mounting needs root";
    for (const char* tool : {kMkfs, kMount, "/sbin/losetup"}) {
      if (!std::filesystem::exists(tool)) return std::string(tool) + " is not installed";
    }
    if (!std::filesystem::exists("/dev/fuse")) return "no /dev/fuse";
    return "";
  }

  explicit ExfatMount(int megabytes = 64) {
    const std::filesystem::path image = dir_ / "image";
    std::filesystem::create_directory(mount_point());
    { std::ofstream create(image); }
    std::filesystem::resize_file(image, std::uintmax_t(megabytes) << 20);
    Run({kMkfs, image.string()});
    device_ = Trimmed(Run({"/sbin/losetup", "--find", "--show", image.string()}));
    try {
      Run({kMount, device_, mount_point().string()});
    } catch (...) {
      Run({"/sbin/losetup", "--detach", device_});
      throw;
    }
  }
  ~ExfatMount() {
    // A program the test killed may still be closing files: retry a while.
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (RunProgram("/bin/umount", {mount_point().string()}, Environment()).exit_code == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    RunProgram("/sbin/losetup", {"--detach", device_}, Environment());
  }
  ExfatMount(const ExfatMount&) = delete;
  ExfatMount& operator=(const ExfatMount&) = delete;

  std::filesystem::path mount_point() const { return dir_ / "mnt"; }

 private:
  static std::map<std::string, std::string> Environment() {
    return {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}};
  }
  static std::string Run(const std::vector<std::string>& command) {
    const ProgramResult r = RunProgram(command[0], {command.begin() + 1, command.end()},
                                       Environment(), std::chrono::seconds(60));
    if (r.exit_code != 0) throw std::runtime_error(command[0] + " failed: " + r.err + r.out);
    return r.out;
  }
  static std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }

  TempDir dir_;
  std::string device_;
};

}  // namespace qm::testing
