#pragma once
// Text across the Win32 boundary: the program's texts are UTF-8, the W entry
// points take UTF-16, and console programs print in a code page.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// UTF-16 for a W entry point; nothing when `text` is not valid UTF-8.
std::optional<std::wstring> WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

// The bytes of a console program's output as UTF-8: kept as they are when
// they are valid UTF-8 already, else read in `code_page` (cmd.exe's own
// commands print in the OEM code page, 932 on a Japanese system).
std::string Utf8FromConsoleBytes(const std::string& bytes, std::uint32_t code_page);

// The system's own words for a Win32 error code, with the number:
// "Access is denied. (error 5)".
std::string SystemErrorText(std::uint32_t error);

// Overwrites a wide copy of a secret (a command line, a password).
void WipeWide(std::wstring& text);

}  // namespace qm
