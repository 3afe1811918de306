#pragma once
// How the bytes of a registry file hold its text: plain bytes in the "ANSI"
// character set (what this program has always written), UTF-8 after a
// byte-order mark, or UTF-16LE after one (what Windows' regedit exports).
// Decoding gives one 8-bit text to parse, the bytes themselves or UTF-8;
// encoding that text again gives back exactly the bytes that were decoded.

#include <optional>
#include <string>
#include <string_view>

namespace qm {

enum class RegFileEncoding { Ansi, Utf8, Utf16Le };

struct RegFileText {
  RegFileEncoding encoding = RegFileEncoding::Ansi;
  std::string text;  // without the byte-order mark; UTF-8 unless the encoding is Ansi
};

// Nothing when the bytes are no text at all: a C0 control character other than
// TAB, CR and LF, or, after a byte-order mark, UTF-8 or UTF-16 that is not
// well formed.
std::optional<RegFileText> DecodeRegFile(std::string_view bytes);

// The bytes of the file, byte-order mark included.
std::string EncodeRegFile(const RegFileText& text);

// UTF-16LE data and UTF-8 text, both ways. A code unit that is no character,
// an odd last byte, or a byte that starts no UTF-8 character becomes U+FFFD.
std::string Utf16LeToUtf8(std::string_view utf16);
std::string Utf8ToUtf16Le(std::string_view utf8);

}  // namespace qm
