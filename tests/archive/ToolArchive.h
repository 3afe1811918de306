#pragma once
// Archives as other programs write them: encrypted ones by zip (PKWARE) and
// 7z (WinZip AES), as users receive them. Those programs run on Linux only:
// for the Windows build, make_tool_archives.sh runs the same commands on the
// build machine at build time, and the tests copy what it made.

#include <filesystem>
#include <string>
#include <vector>

#include "tests/archive/ZipMaker.h"

namespace qm::testing {

// One run of `program`, inside the folder the archive is made in, with
// `args` followed by the archive and the names of `inputs` (plain names, no
// folders), whose files are written into that folder first.
struct ToolRun {
  std::string program;
  std::vector<std::string> args;
  std::vector<ZipInput> inputs;
};

// Makes `archive` with `runs` in turn, in `folder`. On Windows copies the
// archive that make_tool_archives.sh made from the same runs under `name`
// instead (throws when there is none). False when a program is missing;
// throws when one fails.
bool ArchiveWithTools(const std::string& name, const std::vector<ToolRun>& runs,
                      const std::filesystem::path& folder, const std::filesystem::path& archive);

}  // namespace qm::testing
