#pragma once
// Text crossing into the settings store: UTF-8 in memory, the platform's "ANSI"
// character set in stored values. On Windows that is the ANSI code page; elsewhere
// it is the character set of the current LC_CTYPE locale (the caller runs
// setlocale(LC_CTYPE, "") at start-up). Conversions never fail: a character the
// other side cannot hold, or a byte that is no character, becomes '?'.

#include <string>
#include <string_view>

namespace qm {

std::string ToAnsi(std::string_view utf8);
std::string FromAnsi(std::string_view ansi);

// A stored text value back to UTF-8: what FromAnsi makes of it, except that
// bytes that are no text of the ANSI character set but are UTF-8 are taken as
// that UTF-8. Earlier versions wrote the mail profile's values as UTF-8 under
// any locale; under a UTF-8 locale the two readings are the same.
std::string FromStoredText(std::string_view stored);

#ifndef _WIN32
// The same conversions with the character set named explicitly (an iconv name).
// The plain-ASCII locale charset counts as UTF-8: it is the default C locale of
// current Linux systems, where files and names are UTF-8 in practice.
std::string Utf8ToCharset(std::string_view utf8, const std::string& charset);
std::string CharsetToUtf8(std::string_view text, const std::string& charset);
std::string StoredTextToUtf8(std::string_view stored, const std::string& charset);
#endif

}  // namespace qm
