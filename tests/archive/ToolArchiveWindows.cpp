#include <stdexcept>

#include "tests/archive/ToolArchive.h"
#include "tests/support/FileBytes.h"

namespace qm::testing {

// QM_TOOL_ARCHIVES: the folder make_tool_archives.sh wrote at build time.
bool ArchiveWithTools(const std::string& name, const std::vector<ToolRun>& /*runs*/,
                      const std::filesystem::path& /*folder*/,
                      const std::filesystem::path& archive) {
  const std::filesystem::path made = std::filesystem::path(QM_TOOL_ARCHIVES) / (name + ".zip");
  if (!std::filesystem::is_regular_file(made)) {
    throw std::runtime_error("make_tool_archives.sh made no " + made.string());
  }
  WriteFile(archive, ReadFile(made));
  return true;
}

}  // namespace qm::testing
