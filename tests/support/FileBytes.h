#pragma once
// Whole contents of a file, by name or from an open descriptor's position on,
// and of every entry of a folder.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace qm::testing {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
