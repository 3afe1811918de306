#pragma once
// A fuzz input as a message file: a seekable descriptor of memory holding
// exactly those bytes, as the stores hand out messages.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/UniqueFd.h"

inline qm::UniqueFd MemoryFile(const std::uint8_t* data, std::size_t size) {
  qm::UniqueFd fd(::memfd_create("fuzz-message", 0));
  if (!fd.valid()) std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd.get(), data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  return fd;
}
