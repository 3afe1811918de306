#pragma once
// Byte-to-text conversion helpers behind the header decoders. ConvertToUtf8 and
// DecodeUnlabelled themselves are declared in HeaderText.h.

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string ReplaceInvalidUtf8(std::string_view text);

// Conversion with the ICU converter `icu_name`; std::nullopt when the
// converter is unknown or any byte had to be substituted.
std::optional<std::string> ConvertExactly(std::string_view bytes, const char* icu_name);

// Header bytes without a charset label: 7-bit text carrying ISO-2022-JP escape
// sequences (old Japanese mailers wrote them raw) is decoded as such,
// everything else with DecodeUnlabelled.
std::string DecodeHeaderBytes(std::string_view bytes);

}  // namespace qm
