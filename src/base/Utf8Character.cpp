#include "base/Utf8Character.h"

namespace qm {
namespace {

// What a lead byte asks for: the bytes of its character, and the range of
// the byte after it (the bytes after that are any continuation byte).
struct LeadForm {
  std::size_t length = 0;  // 0: the byte starts no character
  unsigned char second_low = 0x80;
  unsigned char second_high = 0xBF;
};

LeadForm FormOf(unsigned char lead) {
  if (lead < 0x80) return {1};
  if (lead >= 0xC2 && lead <= 0xDF) return {2};
  if (lead == 0xE0) return {3, 0xA0};        // shorter forms are overlong
  if (lead == 0xED) return {3, 0x80, 0x9F};  // D800 to DFFF are surrogates
  if (lead >= 0xE1 && lead <= 0xEF) return {3};
  if (lead == 0xF0) return {4, 0x90};        // shorter forms are overlong
  if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing past U+10FFFF
  if (lead >= 0xF1 && lead <= 0xF3) return {4};
  return {};
}

bool InRange(char byte, unsigned char low, unsigned char high) {
  const auto value = static_cast<unsigned char>(byte);
  return value >= low && value <= high;
}

}  // namespace

std::size_t Utf8CharacterLength(std::string_view text) {
  const LeadForm form = FormOf(static_cast<unsigned char>(text.front()));
  if (form.length == 0 || form.length > text.size()) return 0;
  if (form.length > 1 && !InRange(text[1], form.second_low, form.second_high)) return 0;
  for (std::size_t i = 2; i < form.length; ++i) {
    if (!InRange(text[i], 0x80, 0xBF)) return 0;
  }
  return form.length;
}

bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = Utf8CharacterLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

}  // namespace qm
