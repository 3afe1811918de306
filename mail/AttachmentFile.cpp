#include "mail/AttachmentFile.h"

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include "frame/settings/Failure.h"
#include "frame/settings/UniqueFd.h"
#include "mail/mime/AttachmentList.h"
#include "mail/save/BackgroundWriter.h"
#include "mail/save/DestinationFile.h"

namespace qm {
namespace {

// Removes a file being written unless it was completed.
class PartialFile {
 public:
  explicit PartialFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~PartialFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;
  std::filesystem::path Keep() { return std::exchange(path_, {}); }

 private:
  std::filesystem::path path_;
};

// Closes now, so that a failing close (a write the file system reports
// late) is seen.
void CloseWritten(UniqueFd& file, const std::string& what) {
  if (::close(file.Release()) != 0) throw FileFailure(FailureKind::FileWrite, errno, what);
}

}  // namespace

std::filesystem::path WriteAttachmentFile(const AttachmentList& list, std::size_t index,
                                          const std::filesystem::path& folder,
                                          BackgroundWriter& writer) {
  NewFile file = CreateFreshFile(folder, list.Name(index));
  PartialFile partial(file.path);
  const std::string what = file.path.string();
  std::size_t held = 0;
  if (AttachmentList::DetachedWriter write = list.Detached(index, &held)) {
    // The task owns the open file until it has run; a failed task's file is
    // never taken for a complete one (writer.Wait() throws).
    auto out = std::make_shared<UniqueFd>(std::move(file.fd));
    writer.Submit(
        [write = std::move(write), out, what] {
          write(out->get(), what);
          CloseWritten(*out, what);
        },
        held);
    return partial.Keep();
  }
  list.Write(index, file.fd.get(), what);
  CloseWritten(file.fd, what);
  return partial.Keep();
}

}  // namespace qm
