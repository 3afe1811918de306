#pragma once
// Text at the Win32 boundary: the program's UTF-8 to and from the UTF-16 of
// the wide calls, strictly (never through the ANSI code page).

#include <string>
#include <string_view>

namespace qm {

// 0, or EILSEQ when `utf8` is not valid UTF-8.
int Utf16Of(std::string_view utf8, std::wstring& utf16);

// 0, or EILSEQ when `utf16` holds an unpaired surrogate.
int Utf8Of(std::wstring_view utf16, std::string& utf8);

}  // namespace qm
