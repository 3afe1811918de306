// Feeds arbitrary bytes to the winmail.dat reader as a TNEF stream. Whatever
// the checks let through must be a stream libytnef reads without failing
// (its failures leave half-built state behind and print to standard output),
// and unpacking must never crash, whatever the bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mail/mime/TnefFiles.h"
#include "mail/mime/TnefStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (const auto checked = qm::CheckTnef(bytes); checked && !qm::LibytnefReads(checked->stream)) {
    std::abort();
  }
  qm::FilesInTnef(std::string(bytes));
  return 0;
}
