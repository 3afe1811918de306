#pragma once
// A message's own header block bounded before the MIME parser reads it: the
// parser keeps every field it reads, at several times its size, so a header
// block of megabytes would cost hundreds. A message whose header block is
// larger than kMaxParsedHeaderBytes is parsed from a copy in which that block
// holds only the fields that describe the content (Content-*, MIME-Version),
// each cut to kMaxParsedHeaderBytes and together no more than that; the rest
// of the message follows unchanged. Subject and From are read by the store,
// not from here.

#include <cstdint>

#include "base/UniqueFd.h"
#include "mime/ScratchFile.h"

namespace qm {

inline constexpr std::int64_t kMaxParsedHeaderBytes = 64 * 1024;

// `message` itself when its header block is within the bound, else the copy,
// in a file `open_scratch` opens. Throws UnreadableMessage when `message`
// cannot be read.
UniqueFd WithBoundedHeaderBlock(UniqueFd message, const OpenScratchFile& open_scratch);

}  // namespace qm
