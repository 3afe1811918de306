#pragma once
// Writing a whole buffer to a descriptor, however the kernel splits it.

#include <cstddef>
#include <string>

namespace qm {

// Writes all `size` bytes; throws FileFailure(FileWrite) naming "writing <what>".
void WriteAll(int fd, const char* data, std::size_t size, const std::string& what);

}  // namespace qm
