#pragma once
// Where the run log (base/RunLog) lives: a folder of the user's own that
// roams with nobody and is kept across restarts.

#include <filesystem>

namespace qm {

// Linux: $XDG_STATE_HOME/quillmar/quillmar.log; an unset, empty or relative
// XDG_STATE_HOME means $HOME/.local/state, as the XDG base directory rules say.
// Windows: %LOCALAPPDATA%\Quillmar\quillmar.log (the known folder).
// "" when the platform names no such folder (no HOME, no profile).
std::filesystem::path RunLogPath();

}  // namespace qm
