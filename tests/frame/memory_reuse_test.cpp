#include "frame/MemoryReuse.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace qm {
namespace {

// A message-sized buffer comes from the heap, not from a mapping of its own,
// and freeing it does not shrink the heap: the next buffer reuses its pages.
TEST(MemoryReuse, MessageSizedBlocksStayInTheHeapWhenFreed) {
  KeepFreedMemoryForReuse();
  constexpr std::size_t kSize = 8 * 1024 * 1024;
  const std::size_t mapped_before = mallinfo2().hblkhd;
  void* volatile block = std::malloc(kSize);
  ASSERT_NE(block, nullptr);
  std::memset(block, 1, kSize);
  EXPECT_EQ(mallinfo2().hblkhd, mapped_before) << "the block was mapped on its own";
  void* const heap_end = ::sbrk(0);
  std::free(block);
  EXPECT_EQ(::sbrk(0), heap_end) << "freeing the block shrank the heap";
}

}  // namespace
}  // namespace qm
