#pragma once
// How freed memory is kept for reuse by this process.

namespace qm {

// A scan reads thousands of messages of up to a few megabytes into memory.
// By default glibc hands each such buffer back to the kernel when it is
// freed, and the next one then costs fresh, zeroed pages: more than reading
// the message itself. After this call, blocks up to 32 MiB come from the heap
// and the heap keeps up to 128 MiB of free memory for reuse. Call it first
// thing in main, before any thread starts. Does nothing where the C library
// is not glibc.
void KeepFreedMemoryForReuse();

}  // namespace qm
