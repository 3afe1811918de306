#include "settings/CommandLine.h"

namespace qm {

std::string JoinedCommandLine(int argc, char* argv[]) {
  std::string joined;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) joined += ' ';
    joined += argv[i];
  }
  return joined;
}

bool AutoRunRequested(std::string_view command_line) {
  return command_line.find("-a") != std::string_view::npos ||
         command_line.find("-A") != std::string_view::npos;
}

}  // namespace qm
