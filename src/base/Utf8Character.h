#pragma once
// The extent of one UTF-8 character, for code that walks text byte by byte:
// the one rule for what counts as a character, wherever text is checked,
// reversed or converted. It is Unicode's: no overlong form, no surrogate,
// nothing past U+10FFFF.

#include <cstddef>
#include <string_view>

namespace qm {

// Bytes of the UTF-8 character at the start of `text` (not empty), 1 to 4; 0
// when the bytes there are no well-formed character: a byte that starts none
// (a continuation byte, 0xC0, 0xC1, 0xF5 to 0xFF), a byte after it out of
// its range, or a character cut off by the end of `text`.
std::size_t Utf8CharacterLength(std::string_view text);

// True when all of `text` is well-formed characters.
bool IsValidUtf8(std::string_view text);

}  // namespace qm
