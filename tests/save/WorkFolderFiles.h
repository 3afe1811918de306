#pragma once
// Files of a destination's work folder as the scan's writers leave them, and
// what the destination folder holds: the destination folder tests' helpers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/FileSystem.h"
#include "save/DestinationFile.h"
#include "save/DestinationFolder.h"
#include "save/EndedRun.h"
#include "tests/support/FileBytes.h"

namespace qm::testing {

using Files = std::vector<std::pair<std::string, std::string>>;  // name, content in order

// A file of the work folder, as the scan's writers leave it: `path`
// relative to that folder, and what it is now.
inline WrittenFile InWorkFolder(const DestinationFolder& destination, const std::string& path) {
  fs::EntryInfo info;
  EXPECT_EQ(fs::InfoOfEntry(fs::kNoFolder, fs::NameOf(destination.work_folder_path() / path), info),
            0)
      << path;
  return {path, info.identity};
}

// A new file of the work folder holding `content`, written as the scan's
// writers write one.
inline WrittenFile WrittenInWorkFolder(const DestinationFolder& destination,
                                       const std::string& name, const std::string& content) {
  const NewFile file = CreateFreshFile(destination.work_folder().fd(), name);
  EXPECT_EQ(::write(file.fd.get(), content.data(), content.size()),
            static_cast<int>(content.size()));
  return {file.name, file.identity};
}

// Adds each file of `adds`, written into the work folder first, under its name.
inline void AddAll(DestinationFolder& destination, const Files& adds) {
  for (const auto& [name, content] : adds) {
    destination.Add(WrittenInWorkFolder(destination, name, content), name);
  }
}

// The name of this process's work folder.
inline std::string OwnWorkFolder() { return RunNames::OfThisRun(".quillmar-").Prefix() + "work"; }

// The folder's entries but the work folder of this process's own scan.
inline Listing Saved(const std::filesystem::path& folder) {
  Listing files = ListFolder(folder);
  files.erase(OwnWorkFolder());
  return files;
}

}  // namespace qm::testing
