#pragma once
// Files uuencoded into a text body, as old mailers and some scanners send
// them: a "begin MODE NAME" line, lines of uuencoded data, a line of zero
// length and "end". The data is decoded by GMime's uudecoder; a block that
// is cut off gives what it holds.

#include <string_view>
#include <vector>

#include "mail/mime/HeldFile.h"

namespace qm {

// The files in `text`, the transfer-decoded bytes of a text/plain body whose
// charset is `charset` (empty when not given); names are decoded in it.
std::vector<HeldFile> UuencodedFiles(std::string_view text, std::string_view charset);

}  // namespace qm
