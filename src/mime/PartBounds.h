#pragma once
// Bounds on the parts of one message, checked before the MIME parser reads
// it: the parser builds objects for every part, a few kilobytes each, and
// keeps every header field of a part at several times its size, so that a
// message of a megabyte of empty parts, or a part with a header block of
// megabytes, would cost hundreds. The check is conservative: every part after
// the first of a multipart starts after a line that is "--" and a boundary
// declared anywhere before it (its delimiter), and its header block runs to
// the next empty line; an attached
// message's own header block follows the block of a part that names a
// message type and no transfer encoding (an encoded one is checked once
// decoded). Text that merely looks like that counts too: the bounds err
// on the side of memory.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

inline constexpr std::size_t kMaxPartLines = 5000;
inline constexpr std::int64_t kMaxPartHeaderBytes = 1024 * 1024;

// Why the message read from `fd` is not to be parsed: more than
// kMaxPartLines delimiter lines or declared boundaries, or a header block of
// a part larger than kMaxPartHeaderBytes. std::nullopt when it is within both.
// Throws UnreadableMessage when it cannot be read.
std::optional<std::string> PartBoundExceeded(int fd);
// The same for a message already in memory.
std::optional<std::string> PartBoundExceeded(std::string_view message);

}  // namespace qm
