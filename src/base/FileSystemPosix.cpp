// The held-folder file functions on POSIX: the *at calls, one for one.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string_view>

#include "base/FileSystem.h"
#include "base/UniqueFd.h"

namespace qm::fs {
namespace {

static_assert(kNoFolder == AT_FDCWD);

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kRegular;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (S_ISLNK(mode)) return EntryKind::kLink;
  return EntryKind::kOther;
}

EntryInfo InfoFrom(const struct stat& status) {
  EntryInfo info;
  info.kind = KindOf(status.st_mode);
  info.size = static_cast<std::uint64_t>(status.st_size);
  info.identity = {status.st_dev, status.st_ino};
  info.owner = status.st_uid;
  return info;
}

// Closes `descriptor` and fails with `error` (close may change errno).
int CloseAndFail(int descriptor, int error) {
  ::close(descriptor);
  errno = error;
  return -1;
}

}  // namespace

std::string NameOf(const std::filesystem::path& path) { return path.native(); }

int OpenFolder(int folder, const std::string& name, FinalLink link) {
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (link == FinalLink::kRefuse) flags |= O_NOFOLLOW;
  return ::openat(folder, name.c_str(), flags);
}

int OpenForReading(int folder, const std::string& name, FinalLink link) {
  int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (link == FinalLink::kRefuse) flags |= O_NOFOLLOW;
  const int descriptor = ::openat(folder, name.c_str(), flags);
  if (descriptor < 0) return -1;
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) return CloseAndFail(descriptor, errno);
  if (S_ISDIR(status.st_mode)) return CloseAndFail(descriptor, EISDIR);
  if (!S_ISREG(status.st_mode)) return CloseAndFail(descriptor, ENXIO);
  return descriptor;
}

int CreateExclusive(int folder, const std::string& name, unsigned mode) {
  return ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  static_cast<mode_t>(mode));
}

int CreateScratchFile(int folder) {
  const int descriptor = ::openat(folder, ".", O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
  if (descriptor >= 0) return descriptor;
  // No O_TMPFILE there (FUSE, SMB, exFAT): a named file, gone at once.
  std::mt19937_64 random(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = ".scratch-" + std::to_string(random());
    const int named = CreateExclusive(folder, name, 0600);
    if (named < 0 && errno == EEXIST) continue;
    if (named < 0) return -1;
    if (::unlinkat(folder, name.c_str(), 0) != 0) return CloseAndFail(named, errno);
    return named;
  }
  errno = EEXIST;
  return -1;
}

int MakeFolder(int folder, const std::string& name) {
  return ::mkdirat(folder, name.c_str(), 0700);
}

int RemoveFile(int folder, const std::string& name) { return ::unlinkat(folder, name.c_str(), 0); }

int RemoveEmptyFolder(int folder, const std::string& name) {
  return ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
}

int RenameNoReplace(int from_folder, const std::string& from, int to_folder,
                    const std::string& to) {
  return ::renameat2(from_folder, from.c_str(), to_folder, to.c_str(), RENAME_NOREPLACE);
}

int RenameReplacing(int from_folder, const std::string& from, int to_folder,
                    const std::string& to) {
  return ::renameat(from_folder, from.c_str(), to_folder, to.c_str());
}

int HardLink(int from_folder, const std::string& from, int to_folder, const std::string& to) {
  return ::linkat(from_folder, from.c_str(), to_folder, to.c_str(), 0);
}

int InfoOfEntry(int folder, const std::string& name, EntryInfo& info) {
  struct stat status {};
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  info = InfoFrom(status);
  return 0;
}

int InfoOf(int descriptor, EntryInfo& info) {
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) return -1;
  info = InfoFrom(status);
  return 0;
}

OwnerId CurrentOwner() { return ::geteuid(); }

int ListFolder(int folder, std::vector<std::string>& names) {
  names.clear();
  // A duplicate would share the read position with `folder`: open it afresh.
  UniqueFd own(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!own.valid()) return -1;
  DIR* listing = ::fdopendir(own.get());
  if (listing == nullptr) return -1;
  own.Release();  // closedir closes it
  errno = 0;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  const int error = errno;
  ::closedir(listing);
  errno = error;
  return error == 0 ? 0 : -1;
}

int FlushFile(int descriptor) { return ::fsync(descriptor); }

int FlushEntry(int folder, const std::string& name) {
  const int descriptor = OpenForReading(folder, name);
  if (descriptor < 0) return -1;
  if (::fsync(descriptor) != 0) return CloseAndFail(descriptor, errno);
  return ::close(descriptor);
}

int FlushFolder(int folder) { return ::fsync(folder); }

void DropCachedPages(int descriptor) { ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_DONTNEED); }

int EmptyAndRewind(int descriptor) {
  if (::ftruncate(descriptor, 0) != 0) return -1;
  return ::lseek(descriptor, 0, SEEK_SET) == 0 ? 0 : -1;
}

std::int64_t ReadAt(int descriptor, void* buffer, std::size_t size, std::uint64_t offset) {
  for (;;) {
    const ssize_t count = ::pread(descriptor, buffer, size, static_cast<off_t>(offset));
    if (count >= 0 || errno != EINTR) return count;
  }
}

std::int64_t WriteAt(int descriptor, const void* buffer, std::size_t size, std::uint64_t offset) {
  for (;;) {
    const ssize_t count = ::pwrite(descriptor, buffer, size, static_cast<off_t>(offset));
    if (count >= 0 || errno != EINTR) return count;
  }
}

}  // namespace qm::fs
