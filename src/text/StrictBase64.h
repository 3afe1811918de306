#pragma once
// Base64 text that must be exactly that (RFC 4648, section 4): the alphabet
// A-Z a-z 0-9 + /, whole groups of four, '=' only as the padding of the
// last group, no line breaks or other characters. Decoded by GMime.

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The bytes `text` encodes; nullopt when it is not strict base64.
std::optional<std::string> StrictBase64Decoded(std::string_view text);

}  // namespace qm
