#pragma once
// One attachment of the current message written into a file of its own.

#include <cstddef>
#include <filesystem>

namespace qm {

class AttachmentList;
class BackgroundWriter;

// Writes attachment `index` of `list` into a new file in `folder`, named
// after the attachment (or its first free numbered name), and returns its
// path. Where the attachment allows, `writer` writes it while the scan goes
// on: the file is complete once writer.Wait() returns. A file that could not
// be written whole is removed.
std::filesystem::path WriteAttachmentFile(const AttachmentList& list, std::size_t index,
                                          const std::filesystem::path& folder,
                                          BackgroundWriter& writer);

}  // namespace qm
