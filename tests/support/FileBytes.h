#pragma once
// Whole contents of a file, by name or from an open descriptor's position on,
// and of every entry of a folder.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace qm::testing {

// Read in large chunks: tests read files of many megabytes, also in
// unoptimised sanitizer builds.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  char chunk[64 * 1024];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  return bytes;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// File name -> content, "<folder>" for a folder.
using Listing = std::map<std::string, std::string>;

inline Listing ListFolder(const std::filesystem::path& folder) {
  Listing files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename().string()] =
        entry.is_directory() ? "<folder>" : ReadFile(entry.path());
  }
  return files;
}

inline std::string ReadFd(int fd) {
  std::string bytes;
  char chunk[4096];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) bytes.append(chunk, got);
  return bytes;
}

}  // namespace qm::testing
