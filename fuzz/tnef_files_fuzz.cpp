// Feeds arbitrary bytes to the winmail.dat reader as a TNEF stream. What the
// layout's checks let through for each attachment must be a stream libytnef
// reads without failing (its failures leave half-built state behind and
// print to standard output), and unpacking must never crash, whatever the
// bytes.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "mime/ScratchFile.h"
#include "mime/TnefFiles.h"
#include "mime/TnefStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qm::UniqueFd fd(::memfd_create("fuzz-tnef", 0));
  if (!fd.valid()) std::abort();
  const auto scratch = std::make_shared<qm::ScratchFile>(std::move(fd));
  scratch->Append(std::string_view(reinterpret_cast<const char*>(data), size));
  const qm::Span stream{0, scratch->size()};
  if (const auto layout = qm::ReadTnefLayout(*scratch, stream)) {
    for (std::size_t i = 0; i < layout->attachments.size(); ++i) {
      if (!qm::LibytnefReads(qm::TnefAttachmentStream(*scratch, stream, *layout, i))) std::abort();
    }
  }
  qm::FilesInTnef(scratch, stream);
  return 0;
}
