#pragma once
// Bytes as lower-case hexadecimal text and back: digests and random names
// kept or shown as text.

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Two digits per byte, "0123456789abcdef".
std::string HexOf(std::string_view bytes);

// The bytes `hex` spells (either letter case); nothing when it is not an
// even number of hexadecimal digits.
std::optional<std::string> BytesOfHex(std::string_view hex);

}  // namespace qm
