#include <map>
#include <stdexcept>

#include "tests/archive/ToolArchive.h"
#include "tests/support/FileBytes.h"
#include "tests/support/Subprocess.h"

namespace qm::testing {
namespace {

const std::map<std::string, std::string> kToolEnvironment = {
    {"PATH", "/usr/local/bin:/usr/bin:/bin"}, {"LC_ALL", "C.UTF-8"}};

bool ToolExists(const std::string& program) {
  const ProgramResult which =
      RunProgram("/bin/sh", {"-c", "command -v \"$0\"", program}, kToolEnvironment);
  return which.exit_code == 0;
}

void Run(const ToolRun& run, const std::filesystem::path& folder,
         const std::filesystem::path& archive) {
  std::vector<std::string> command = {"-c", "cd \"$0\" && exec \"$@\"", folder.string(),
                                      run.program};
  command.insert(command.end(), run.args.begin(), run.args.end());
  command.push_back(archive.string());
  for (const ZipInput& input : run.inputs) {
    WriteFile(folder / input.name, input.data);
    command.push_back(input.name);
  }
  const ProgramResult result = RunProgram("/bin/sh", command, kToolEnvironment);
  if (result.exit_code != 0) {
    throw std::runtime_error(run.program + " failed: " + result.out + result.err);
  }
}

}  // namespace

bool ArchiveWithTools(const std::string& /*name*/, const std::vector<ToolRun>& runs,
                      const std::filesystem::path& folder, const std::filesystem::path& archive) {
  for (const ToolRun& run : runs) {
    if (!ToolExists(run.program)) return false;
  }
  for (const ToolRun& run : runs) Run(run, folder, archive);
  return true;
}

}  // namespace qm::testing
