#pragma once
// RFC 2047 encoded words and the small lexical pieces shared by the header
// decoders (unfolding, quoted strings).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

struct EncodedWord {
  std::string charset;  // as labelled, possibly with "*language"
  std::string bytes;    // payload after B or Q decoding
  size_t end = 0;       // index just past the closing "?="
};

// The well-formed encoded word starting at text[start] ("=?"), if any.
std::optional<EncodedWord> ParseEncodedWord(std::string_view text, size_t start);

// Decodes the encoded words inside `text` (already UTF-8 apart from the words'
// payloads). Whitespace between adjacent words is dropped, and adjacent words
// of one charset are joined as bytes before conversion, because a character
// (and an ISO-2022-JP shift state) may span several words. Malformed words
// stay as they are.
std::string DecodeEncodedWords(std::string_view text);

// A raw header value as UTF-8: line breaks of folding removed, unlabelled
// 8-bit bytes decoded. Encoded words are left for DecodeEncodedWords.
std::string UnfoldAndDecodeBytes(std::string_view raw);

// `text` without NUL, CR and LF characters.
std::string WithoutNulAndLineBreaks(std::string_view text);

// Reads the quoted string starting at text[pos] ('"') and moves pos past its
// closing quote (or to the end when it is unterminated). A backslash escapes
// only '"' and '\'; any other backslash is kept, because mailers write
// Windows paths in quoted names without escaping them.
std::string ReadQuotedString(std::string_view text, size_t& pos);

bool IsHeaderSpace(char c);

}  // namespace qm
