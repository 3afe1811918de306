#pragma once
// The files inside a TNEF stream (an Outlook winmail.dat), read by libytnef
// from the checked form of the stream (TnefStream.h). Files of messages
// attached inside it are found too, to a bounded depth.

#include <optional>
#include <string>
#include <vector>

#include "mail/mime/HeldFile.h"

namespace qm {

struct TnefContents {
  std::vector<HeldFile> files;
  bool incomplete = false;  // some part could not be unpacked: keep the stream itself too
};

// std::nullopt when `stream` cannot be read as TNEF at all. The stream is
// taken, so that its memory goes as soon as its checked copy is made.
std::optional<TnefContents> FilesInTnef(std::string stream);

// True when libytnef reads `stream` to its end without refusing it: the
// promise the checks of TnefStream.h make for every stream they pass.
bool LibytnefReads(std::string stream);

}  // namespace qm
