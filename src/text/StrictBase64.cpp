#include "text/StrictBase64.h"

#include <gmime/gmime.h>

#include <algorithm>

namespace qm {
namespace {

bool IsAlphabetCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Whole groups of four; at most two '=', and only at the end.
bool IsStrictBase64(std::string_view text) {
  if (text.size() % 4 != 0) return false;
  std::size_t data_end = text.size();
  while (data_end > 0 && text.size() - data_end < 2 && text[data_end - 1] == '=') --data_end;
  return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(data_end),
                     IsAlphabetCharacter);
}

}  // namespace

std::optional<std::string> StrictBase64Decoded(std::string_view text) {
  if (!IsStrictBase64(text)) return std::nullopt;
  std::string bytes(text.size() / 4 * 3, '\0');
  int state = 0;
  guint32 save = 0;
  const std::size_t length = g_mime_encoding_base64_decode_step(
      reinterpret_cast<const unsigned char*>(text.data()), text.size(),
      reinterpret_cast<unsigned char*>(bytes.data()), &state, &save);
  bytes.resize(length);
  return bytes;
}

}  // namespace qm
