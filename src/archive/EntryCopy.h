#pragma once
// The bytes of one entry, decrypted by libzip and decompressed by it (by
// zlib for deflated AES entries, see DecryptedAesStream.h), handed to a sink
// chunk by chunk and checked at the end.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct zip;

namespace qm {

using ChunkSink = std::function<void(const char* data, std::size_t size)>;

// Reads entry `index` with `password` (empty: none) into `sink`. Throws
// ArchiveFailure: kWrongPassword, kOverLimit when the data runs past the
// declared size, kCrcMismatch (CRC-32, authentication code, or compressed
// data that cannot be decompressed), kDamaged. A stored AE-2 entry is
// vouched for by its password verifier alone (DataCheckable).
void CopyEntry(zip* archive, std::uint64_t index, const std::string& password,
               const ChunkSink& sink);

// Opens entry `index` with `password` and closes it again: the cheap test of
// the encryption header. Throws as CopyEntry.
void OpenEntryHeader(zip* archive, std::uint64_t index, const std::string& password);

// False for the one kind of entry whose data libzip 1.7 cannot check: a
// stored WinZip AE-2 entry of 20 bytes or more (see CopyEntry).
bool DataCheckable(zip* archive, std::uint64_t index);

}  // namespace qm
