#pragma once
// Text across the Win32 boundary beyond the plain UTF-8/UTF-16 conversion
// (base/WindowsText.h): console programs print in a code page, errors have
// the system's words, wide copies of secrets are overwritten.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

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
