#pragma once
// The program's start: settings, command line, platform, main window.

namespace qm {

// Returns the process exit code: 0, or the failure's code (Failure.h).
int Main(int argc, char* argv[]);

}  // namespace qm
