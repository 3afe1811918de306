#pragma once
// Reading a file whose path comes from outside (the settings file, a CA
// file): only a regular file is read, and never more than a limit. Opening
// it never waits (a FIFO with no writer) and takes no terminal; fstat on the
// opened descriptor decides, so what is read is what was checked.

#include <cstddef>
#include <filesystem>
#include <string>

#include "base/FileSystem.h"

namespace qm {

enum class RegularFileState {
  kRead,        // `bytes` holds the whole file
  kMissing,     // no such file (or a folder on the way is missing)
  kNotRegular,  // a FIFO, a device, a socket, a folder, or a link where none is taken
  kTooLarge,    // larger than the limit; nothing was read
  kUnreadable,  // it exists but cannot be opened or read: `error` says why
};

// Whether a symbolic link as the last part of the path is followed.
using fs::FinalLink;

struct RegularFileContent {
  RegularFileState state = RegularFileState::kMissing;
  std::string bytes;
  int error = 0;  // errno of a kUnreadable file
};

RegularFileContent ReadRegularFile(const std::filesystem::path& path, std::size_t limit,
                                   FinalLink link);

}  // namespace qm
