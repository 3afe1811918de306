#pragma once
// Whole contents of a file, by name or from an open descriptor's position on,
// and of every entry of a folder.

#include <filesystem>
#include <map>
#include <string>

namespace qm::testing {

std::string ReadFile(const std::filesystem::path& path);

void WriteFile(const std::filesystem::path& path, const std::string& content);

// File name -> content, "<folder>" for a folder.
using Listing = std::map<std::string, std::string>;

Listing ListFolder(const std::filesystem::path& folder);

std::string ReadFd(int fd);

}  // namespace qm::testing
