#pragma once
// One attachment of the current message written into a file of its own.

#include <cstddef>

#include "save/DestinationFile.h"

namespace qm {

class MessageAttachments;
class BackgroundWriter;

// Writes attachment `index` of `list` into a new file in the folder held open
// as `folder`, named after the attachment (or its first free numbered name),
// and returns its name there. Where the attachment allows, `writer` writes
// it while the scan goes on: the file is complete once writer.Wait()
// returns. A file that could not be written whole is removed.
WrittenFile WriteAttachmentFile(const MessageAttachments& list, std::size_t index, int folder,
                                BackgroundWriter& writer);

}  // namespace qm
