#pragma once
// Files uuencoded into a text body, as old mailers and some scanners send
// them: a "begin MODE NAME" line, lines of uuencoded data, a line of zero
// length and "end". The data is decoded by GMime's uudecoder into a scratch
// file; a block that is cut off gives what it holds. One body gives at most
// kMaxUuencodedFiles files.

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "mime/HeldFile.h"

namespace qm {

inline constexpr std::size_t kMaxUuencodedFiles = 1000;

struct UuencodedContents {
  std::vector<HeldFile> files;
  bool incomplete = false;  // more blocks than files taken: keep the body itself too
};

// The files in `text`, the transfer-decoded bytes of a text/plain body whose
// charset is `charset` (empty when not given); names are decoded in it. The
// files' bytes are appended to `scratch`.
UuencodedContents UuencodedFiles(std::string_view text, std::string_view charset,
                                 const std::shared_ptr<ScratchFile>& scratch);

}  // namespace qm
