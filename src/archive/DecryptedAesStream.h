#pragma once
// The decrypted, still compressed data of a WinZip AES entry, which libzip
// reads to its end and there checks the authentication code. libzip 1.7's
// own reading of such an entry checks less: its decompressor stops at the
// end of the deflate stream without reading on to the code, and it takes
// the 0 that AE-2 stores for a CRC (entries of 20 bytes or more) for a CRC
// that then never matches.

#include <cstdint>
#include <string>

#include "archive/EntryCopy.h"

struct zip;

namespace qm {

// Reads the stream to its end: throws unless the authentication code matches.
void CheckAuthenticationCode(zip* archive, std::uint64_t index, const std::string& password);

// A deflated AES entry in one pass: the stream inflated with zlib into
// `sink`, at most `declared_size` bytes, the code checked at its end.
// Throws as CopyEntry.
void InflateAesEntry(zip* archive, std::uint64_t index, const std::string& password,
                     std::uint64_t declared_size, const ChunkSink& sink);

}  // namespace qm
