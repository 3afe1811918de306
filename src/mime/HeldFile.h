#pragma once
// A file found inside an attachment (in a winmail.dat) or inside a text body
// (uuencoded), decoded into a scratch file while the message is parsed.

#include <memory>
#include <string>

#include "mime/ScratchFile.h"

namespace qm {

struct HeldFile {
  std::string name;                            // as decoded to UTF-8; not yet a safe file name
  std::shared_ptr<const ScratchFile> scratch;  // shared with writers that outlive the parse
  Span bytes;                                  // the file's bytes in it
};

}  // namespace qm
