// Feeds arbitrary bytes to ReadMessageFacts as a message and checks what it
// promises of any input: it does not throw, its text is valid UTF-8 within
// the bound, and it ends.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/UniqueFd.h"
#include "base/Utf8Character.h"
#include "mime/MessageText.h"

namespace {

qm::UniqueFd MemoryFile(const std::uint8_t* data, std::size_t size) {
  qm::UniqueFd fd(::memfd_create("fuzz-message", 0));
  if (!fd.valid()) std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd.get(), data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qm::UniqueFd message = MemoryFile(data, size);
  const qm::MessageFacts facts = qm::ReadMessageFacts(message.get());
  if (facts.text.size() > qm::kMaxMessageTextBytes || !qm::IsValidUtf8(facts.text)) std::abort();
  return 0;
}
