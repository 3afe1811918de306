#include "mail/AttachmentFile.h"

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "save/BackgroundWriter.h"
#include "save/DestinationFile.h"
#include "store/MessageAttachments.h"

namespace qm {
namespace {

// Removes a file being written unless it was completed.
class PartialFile {
 public:
  PartialFile(int folder, std::string name) : folder_(folder), name_(std::move(name)) {}
  ~PartialFile() {
    if (!name_.empty()) fs::RemoveFile(folder_, name_);
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;
  void Keep() { name_.clear(); }

 private:
  int folder_;
  std::string name_;
};

// Closes now, so that a failing close (a write the file system reports
// late) is seen.
void CloseWritten(UniqueFd& file, const std::string& what) {
  if (::close(file.Release()) != 0) throw FileFailure(FailureKind::FileWrite, errno, what);
}

}  // namespace

WrittenFile WriteAttachmentFile(const MessageAttachments& list, std::size_t index, int folder,
                                BackgroundWriter& writer) {
  NewFile file = CreateFreshFile(folder, list.Name(index));
  PartialFile partial(folder, file.name);
  const std::string what = file.name;
  WrittenFile written{file.name, file.identity};
  std::size_t held = 0;
  if (MessageAttachments::DetachedWriter write = list.Detached(index, &held)) {
    // The task owns the open file until it has run; a failed task's file is
    // never taken for a complete one (writer.Wait() throws).
    auto out = std::make_shared<UniqueFd>(std::move(file.fd));
    writer.Submit(
        [write = std::move(write), out, what] {
          write(out->get(), what);
          CloseWritten(*out, what);
        },
        held);
    partial.Keep();
    return written;
  }
  list.Write(index, file.fd.get(), what);
  CloseWritten(file.fd, what);
  partial.Keep();
  return written;
}

}  // namespace qm
