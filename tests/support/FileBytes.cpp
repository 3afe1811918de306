#include "tests/support/FileBytes.h"

#include <unistd.h>

#include <fstream>

namespace qm::testing {

// Read in large chunks: tests read files of many megabytes, also in
// unoptimised sanitizer builds.
std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  char chunk[64 * 1024];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

Listing ListFolder(const std::filesystem::path& folder) {
  Listing files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename().string()] =
        entry.is_directory() ? "<folder>" : ReadFile(entry.path());
  }
  return files;
}

std::string ReadFd(int fd) {
  std::string bytes;
  char chunk[4096];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) bytes.append(chunk, got);
  return bytes;
}

}  // namespace qm::testing
