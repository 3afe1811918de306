#pragma once
// The layout of a TNEF stream (winmail.dat), read from a scratch file without
// holding the stream in memory. The stream's framing is checked strictly
// (signature, each attribute's level, length and checksum, nothing cut off);
// of its attributes only those that describe attached files are noted, and
// only when libytnef can read them. Damage ends the walk: the attachments
// before it are kept, and the layout says that something was lost.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "mime/ScratchFile.h"

namespace qm {

// A stream with more attachments than this is not unpacked.
inline constexpr std::size_t kMaxTnefAttachments = 1000;
// An attachment's property block larger than this is left out: libytnef
// reads it into memory, and none of its values may be larger than 512 KiB.
inline constexpr std::int64_t kMaxTnefPropertyBytes = 2 * 1024 * 1024;

struct TnefAttachmentLayout {
  // Whole attributes (header, data, checksum) for libytnef: the rendering
  // data that opens the attachment, its title and its property block.
  std::vector<Span> described_by;
  std::optional<Span> data;  // the file data attribute's data, if any (may be empty)
};

struct TnefLayout {
  std::optional<Span> code_page;  // the whole code page attribute names are written in
  std::vector<TnefAttachmentLayout> attachments;
  bool incomplete = false;  // damage, or something that may hold a file was left out
};

// std::nullopt when `stream` is no TNEF stream at all (no signature), or one
// that is not to be unpacked (too many attachments, one libytnef would refuse
// to open).
std::optional<TnefLayout> ReadTnefLayout(const ScratchFile& file, Span stream);

// What libytnef is given for attachment `index`: signature, key, the code
// page and the attributes that describe the attachment, as they stood.
std::string TnefAttachmentStream(const ScratchFile& file, Span stream, const TnefLayout& layout,
                                 std::size_t index);

}  // namespace qm
