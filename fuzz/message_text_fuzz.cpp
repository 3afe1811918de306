// Feeds arbitrary bytes to ReadMessageFacts as a message and checks what it
// promises of any input: it does not throw, its text is valid UTF-8 within
// the bound, and it ends.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/UniqueFd.h"
#include "base/Utf8Character.h"
#include "fuzz/MemoryFile.h"
#include "mime/MessageText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qm::UniqueFd message = MemoryFile(data, size);
  const qm::MessageFacts facts = qm::ReadMessageFacts(message.get());
  if (facts.text.size() > qm::kMaxMessageTextBytes || !qm::IsValidUtf8(facts.text)) std::abort();
  return 0;
}
