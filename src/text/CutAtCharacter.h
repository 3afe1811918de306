#pragma once
// Shortening UTF-8 text to a number of bytes without splitting a character.

#include <cstddef>
#include <string_view>

namespace qm {

// The longest prefix of `text` of at most `limit` bytes that ends at a
// character boundary (a byte that is no continuation byte).
std::string_view CutAtCharacter(std::string_view text, std::size_t limit);

}  // namespace qm
