#include "frame/Main.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char* argv[]) {
#ifdef __GLIBC__
  // A scan reads thousands of messages of up to a few megabytes into memory.
  // By default glibc hands each such buffer back to the kernel when it is
  // freed, and the next one then costs fresh, zeroed pages: more than reading
  // the message itself. Buffers up to 32 MiB stay in the heap for reuse.
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
#endif
  return qm::Main(argc, argv);
}
