#pragma once
// A file found inside an attachment (in a winmail.dat) or inside a text body
// (uuencoded), decoded into memory while the message is parsed.

#include <memory>
#include <string>

namespace qm {

struct HeldFile {
  std::string name;                          // as decoded to UTF-8; not yet a safe file name
  std::shared_ptr<const std::string> bytes;  // shared with writers that outlive the parse
};

}  // namespace qm
