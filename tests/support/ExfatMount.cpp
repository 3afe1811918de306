#include "tests/support/ExfatMount.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/Subprocess.h"

namespace qm::testing {
namespace {

std::map<std::string, std::string> Environment() {
  return {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}};
}

std::string Run(const std::vector<std::string>& command) {
  const ProgramResult r = RunProgram(command[0], {command.begin() + 1, command.end()},
                                     Environment(), std::chrono::seconds(60));
  if (r.exit_code != 0) throw std::runtime_error(command[0] + " failed: " + r.err + r.out);
  return r.out;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

std::string ExfatMount::Missing() {
  if (::geteuid() != 0) return "mounting needs root";
  for (const char* tool : {kMkfs, kMount, "/sbin/losetup"}) {
    if (!std::filesystem::exists(tool)) return std::string(tool) + " is not installed";
  }
  if (!std::filesystem::exists("/dev/fuse")) return "no /dev/fuse";
  return "";
}

ExfatMount::ExfatMount(int megabytes) {
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

ExfatMount::~ExfatMount() {
  // The FUSE daemon may still be closing the files of a program the test
  // killed, and nothing tells when it is done: the unmount is retried, 50 ms
  // apart, for up to five seconds.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (RunProgram("/bin/umount", {mount_point().string()}, Environment()).exit_code == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  RunProgram("/sbin/losetup", {"--detach", device_}, Environment());
}

}  // namespace qm::testing
