#pragma once
// Text of Simple MAPI's calls, which are ANSI only: in the system's ANSI code
// page (932 on Japanese Windows), never UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// `ansi` (may be null: "") decoded from the ANSI code page into UTF-8, or
// into the UTF-16 of the wide calls.
std::string Utf8OfAnsi(const char* ansi);
std::wstring WideOfAnsi(const char* ansi);

// `utf8` in the ANSI code page; nothing when it holds a character the code
// page has not (no look-alike is put in its place) or is not UTF-8.
std::optional<std::string> AnsiOfUtf8(std::string_view utf8);

// `utf16` in the ANSI code page, '?' for each character it has not: what an
// ANSI call gives for a name it cannot hold.
std::string LossyAnsiOf(std::wstring_view utf16);

}  // namespace qm
