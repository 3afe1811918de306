#pragma once
// A message read from a seekable descriptor and parsed with GMime into its top
// part, which holds all of its header fields as they stand. A message of up
// to kInMemoryLimit bytes is read into memory with one call (the parser then
// reads it without a system call per small block); a larger one stays on
// disk, read through a copy of the descriptor (the parser's stream is
// persistent, so content is read only when it is asked for). An mbox "From "
// line before the message is skipped.

#include <gmime/gmime.h>

#include <cstddef>
#include <memory>

#include "base/GObjectPtr.h"

namespace qm {

inline constexpr gint64 kInMemoryLimit = 8 * 1024 * 1024;

// The deepest nesting of parts a walk of the tree goes to (the top part is at
// depth 0); what lies deeper is not read.
inline constexpr int kMaxPartDepth = 64;

using MessageBytes = std::shared_ptr<GByteArray>;

// Reads up to `size` bytes at `offset` of `fd` into `buffer`; false, with
// errno set, when the read fails.
bool ReadBytesAt(int fd, char* buffer, std::size_t size, gint64 offset, std::size_t& got);

// The whole message in memory when it is a regular file of at most
// kInMemoryLimit bytes; nullptr when it is not. A file that shrinks meanwhile
// gives what was read. A failed read throws UnreadableMessage: a message read
// only in part must never pass for a whole one.
MessageBytes ReadIntoMemory(int fd);

// The message's top part, parsed from `bytes` when there are any, else from
// `fd`; its header fields are kept as they stand, and none of them is decoded
// into address lists or dates, which makes the parse much cheaper than as a
// message. Offsets in the tree are those of the whole message. Null when
// nothing could be parsed. Throws UnreadableMessage when `fd` cannot be read.
GObjectPtr<GMimeObject> ParseTopPart(int fd, const MessageBytes& bytes);

}  // namespace qm
