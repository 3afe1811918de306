#pragma once
// A bound on the parts of one message, checked before the MIME parser reads
// it: the parser builds an object for every part, a few kilobytes each, so
// that a message of a megabyte of empty parts would cost hundreds. Every part
// after the first of a multipart starts after a line that begins with "--"
// (its delimiter); a message with more such lines than kMaxPartLines is not
// parsed at all. Text that merely has many lines beginning with "--" counts
// too: the bound errs on the side of memory.

#include <cstddef>

namespace qm {

inline constexpr std::size_t kMaxPartLines = 5000;

// True when the message read from `fd` has more than kMaxPartLines lines
// that begin with "--". Throws UnreadableMessage when it cannot be read.
bool HasTooManyParts(int fd);

}  // namespace qm
