#include "base/Utf8Character.h"

namespace qm {
namespace {

bool IsContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Bytes of the character `lead` starts; 0 when it starts none.
std::size_t LengthFromLead(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

std::size_t Utf8CharacterLength(std::string_view text) {
  const std::size_t length = LengthFromLead(static_cast<unsigned char>(text.front()));
  if (length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if (!IsContinuationByte(static_cast<unsigned char>(text[i]))) return 0;
  }
  return length;
}

bool IsUtf8Text(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = Utf8CharacterLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

}  // namespace qm
