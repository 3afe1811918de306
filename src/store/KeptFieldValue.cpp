#include "store/KeptFieldValue.h"

#include "text/CutAtCharacter.h"

namespace qm {
namespace {

constexpr std::string_view kBlanks = " \t";

// One past the "?=" of the encoded word that starts at `start` ("=?"), or
// nothing when `text` ends before the word does.
std::size_t EncodedWordEnd(std::string_view text, std::size_t start) {
  std::size_t at = start + 2;
  for (int mark = 0; mark < 2; ++mark) {  // the "?" after the charset, then after the encoding
    at = text.find('?', at);
    if (at == std::string_view::npos) return at;
    ++at;
  }
  const std::size_t end = text.find("?=", at);
  return end == std::string_view::npos ? end : end + 2;
}

// Encoded words hold no blanks: only the last token of `kept`, the start of
// `value`, can hold a split one, or the "=" of its opening "=?".
std::string_view DropSplitEncodedWord(std::string_view kept, std::string_view value) {
  if (kept.ends_with('=') && value.substr(kept.size()).starts_with('?')) kept.remove_suffix(1);
  const std::size_t blank = kept.find_last_of(kBlanks);
  std::size_t at = blank == std::string_view::npos ? 0 : blank + 1;
  while ((at = kept.find("=?", at)) != std::string_view::npos) {
    const std::size_t end = EncodedWordEnd(kept, at);
    if (end == std::string_view::npos) return kept.substr(0, at);
    at = end;
  }
  return kept;
}

}  // namespace

std::string KeptFieldValue(std::string_view value, std::size_t limit) {
  if (value.size() <= limit) return std::string(value);
  std::string_view kept = DropSplitEncodedWord(CutAtCharacter(value, limit), value);
  const std::size_t last = kept.find_last_not_of(kBlanks);
  return std::string(kept.substr(0, last == std::string_view::npos ? 0 : last + 1));
}

}  // namespace qm
