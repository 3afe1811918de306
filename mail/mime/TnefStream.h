#pragma once
// The checked form of a TNEF stream (winmail.dat) before libytnef reads it.
// The stream's framing is checked strictly (signature, each attribute's
// level, length and checksum, nothing cut off); of its attributes only those
// that describe attached files are kept, and only when libytnef can read
// them, so that its parse of the result cannot fail half way.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// A stream with more attachments than this is not unpacked.
inline constexpr std::size_t kMaxTnefAttachments = 1000;

struct CheckedTnef {
  std::string stream;       // signature, key and the attributes kept, as they stood
  bool incomplete = false;  // something that may hold a file had to be left out
};

// std::nullopt when `bytes` is no well-formed TNEF stream.
std::optional<CheckedTnef> CheckTnef(std::string_view bytes);

}  // namespace qm
