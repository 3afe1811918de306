#pragma once
// The "From " line an mbox puts before each message. A message taken out of
// an mbox (a Maildir converted from one, a message appended to a server by a
// migration tool) may still start with it; it is no header field, and a
// parser that takes it for the start of the header block finds no headers.

#include <cstddef>
#include <string_view>

namespace qm {

// How many of a message's first bytes are enough to find its "From " line.
inline constexpr std::size_t kMboxFromLineLimit = 1024;

// The length of the "From " line `start` begins with, with its line break;
// 0 when it begins with none, or when no line break ends it within
// kMboxFromLineLimit bytes. `start` is the message's first bytes.
std::size_t MboxFromLineLength(std::string_view start);

}  // namespace qm
