#pragma once
// The command line as one text, and the one switch read from it.

#include <string>
#include <string_view>

namespace qm {

// The arguments after the program's name, joined by single spaces.
std::string JoinedCommandLine(int argc, char* argv[]);

// True when "-a" or "-A" occurs anywhere in the text, also inside a longer word
// ("--all", "x-ay"): a plain, case-sensitive substring test.
bool AutoRunRequested(std::string_view command_line);

}  // namespace qm
