#include "base/AppendOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "base/Failure.h"
#include "base/UniqueFd.h"
#include "base/WriteAll.h"

namespace qm {

struct AppendOnlyFile::Handle {
  UniqueFd fd;
};

// O_NOFOLLOW refuses a link in the file's place; O_NONBLOCK keeps a FIFO
// there from holding the open up until a reader comes.
AppendOnlyFile::AppendOnlyFile(const std::filesystem::path& path)
    : handle_(std::make_unique<Handle>()) {
  constexpr int kFlags = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  handle_->fd.Reset(::open(path.c_str(), kFlags, 0600));
  if (!handle_->fd.valid()) throw FileFailure(FailureKind::FileWrite, errno, path.string());
  struct stat info {};
  if (::fstat(handle_->fd.get(), &info) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, path.string());
  }
  if (!S_ISREG(info.st_mode)) throw FileFailure(FailureKind::FileWrite, EINVAL, path.string());
}

AppendOnlyFile::~AppendOnlyFile() = default;

std::uintmax_t AppendOnlyFile::Size() const {
  struct stat info {};
  if (::fstat(handle_->fd.get(), &info) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "the size of a log");
  }
  return static_cast<std::uintmax_t>(info.st_size);
}

void AppendOnlyFile::Append(std::string_view bytes) {
  WriteAll(handle_->fd.get(), bytes.data(), bytes.size(), "a log");
}

}  // namespace qm
