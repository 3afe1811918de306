#pragma once
// Text from outside (a server's words, a name from a message, a path) made
// safe to print on a terminal or show in a window: characters that could
// move the cursor, change the terminal's title or colours, or turn the text
// around are shown as escapes instead of being passed on.

#include <string>
#include <string_view>

namespace qm {

// `text` with C0 controls and DEL as "\x1b", C1 controls and the bidi
// embeddings, overrides and isolates (U+202A..U+202E, U+2066..U+2069) as
// "\u202e", and each byte of invalid UTF-8 as "\xff". Everything else,
// Japanese included, stays as it is.
std::string EscapeControls(std::string_view text);

}  // namespace qm
