#pragma once
// The files inside a TNEF stream (an Outlook winmail.dat) held in a scratch
// file. The stream's layout is read first (TnefStream.h); libytnef then reads
// what describes one attachment at a time (its names, an attached message),
// while the file's own bytes stay where they are. Files of messages attached
// inside it are found too, to a bounded depth.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mime/HeldFile.h"

namespace qm {

struct TnefContents {
  std::vector<HeldFile> files;
  bool incomplete = false;  // some part could not be unpacked: keep the stream itself too
};

// std::nullopt when `stream`, a span of `scratch`, cannot be read as TNEF at
// all. Bytes that are only in libytnef's memory (an attached message, a file
// carried as a property) are appended to `scratch`.
std::optional<TnefContents> FilesInTnef(const std::shared_ptr<ScratchFile>& scratch, Span stream);

// True when libytnef reads `stream` to its end without refusing it: the
// promise the checks of TnefStream.h make for every stream they pass.
bool LibytnefReads(std::string stream);

}  // namespace qm
