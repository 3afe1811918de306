#pragma once
// Turning a decoded attachment name from a stranger into a plain file name
// that cannot leave the folder it is saved in.

#include <string>
#include <string_view>

namespace qm {

// Keeps only what follows the last '/' or '\'; drops NUL, control and
// bidirectional-control characters; trailing dots and spaces go; an empty, "."
// or ".." result becomes `fallback`; Windows device names (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, with any extension) get a leading '_'; the characters
// :*?"<>| become '_'; at most 255 bytes of UTF-8, cut at a character boundary,
// keeping the extension. `decoded` must be UTF-8 (invalid bytes are replaced).
std::string MakeSafeFileName(std::string_view decoded, std::string_view fallback);

}  // namespace qm
