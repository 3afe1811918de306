// Feeds arbitrary bytes to the attachment walk as a message, extracts every
// attachment into a fresh folder and checks that each file lies directly in it.
// A message refused whole as unreadable is a result, not a crash.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "base/Failure.h"
#include "base/UniqueFd.h"
#include "fuzz/MemoryFile.h"
#include "mail/AttachmentFile.h"
#include "mime/AttachmentList.h"
#include "save/BackgroundWriter.h"
#include "save/DestinationFile.h"
#include "store/UnreadableMessage.h"

namespace {

namespace fs = std::filesystem;

class FreshFolder {
 public:
  FreshFolder() {
    std::string pattern = (fs::temp_directory_path() / "qm-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~FreshFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  FreshFolder(const FreshFolder&) = delete;
  FreshFolder& operator=(const FreshFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FreshFolder folder;
  // Every other file is written in the background, and only after the parse
  // tree is gone, as in a scan.
  qm::BackgroundWriter writer(1 << 20);
  std::vector<fs::path> paths;
  const qm::UniqueFd dir(::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::unique_ptr<qm::AttachmentList> list;
  try {
    list = std::make_unique<qm::AttachmentList>(MemoryFile(data, size),
                                                [] { return MemoryFile(nullptr, 0); });
  } catch (const qm::UnreadableMessage&) {
    return 0;  // nested too deep, or too many parts: refused whole, as it should be
  }
  for (std::size_t i = 0; i < list->size(); ++i) {
    if (i % 2 == 1) {
      paths.push_back(folder.path() / qm::WriteAttachmentFile(*list, i, dir.get(), writer).name);
      continue;
    }
    qm::NewFile file = qm::CreateFreshFile(dir.get(), list->Name(i));
    list->Write(i, file.fd.get(), file.name);
    paths.push_back(folder.path() / file.name);
  }
  list.reset();
  writer.Wait();
  for (const fs::path& path : paths) {
    const fs::file_status status = fs::symlink_status(path);
    if (path.parent_path() != folder.path() || !fs::is_regular_file(status)) std::abort();
  }
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
    if (entry.path().parent_path() != folder.path()) std::abort();
    ++files;
  }
  if (files != paths.size()) std::abort();
  return 0;
}
