#include "settings/RegFileStorage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <utility>

#include "base/ReadRegularFile.h"
#include "base/UniqueFd.h"
#include "base/WriteAll.h"
#include "settings/Registry.h"

namespace qm {

namespace {

constexpr long kErrorPathNotFound = 3;
constexpr long kErrorWriteFault = 29;
constexpr long kErrorDiskFull = 112;

// Names tried before giving up: "-2" up to this.
constexpr int kMostAsideNames = 1000;

std::filesystem::path AsideName(const std::filesystem::path& file, const std::string& stamp,
                                int attempt) {
  std::string name = file.filename().string() + ".unreadable-" + stamp;
  if (attempt > 1) name += "-" + std::to_string(attempt);
  return file.parent_path() / name;
}

// False with errno EEXIST when `to` exists.
bool MoveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without that flag: a second name first, then the first one goes.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

long ErrorCodeFor(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case ENOENT:
    case ENOTDIR:
      return kErrorPathNotFound;
    case ENOSPC:
      return kErrorDiskFull;
    default:
      return kErrorWriteFault;
  }
}

// A file next to the target that disappears again unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target)
      : name_((target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string()),
        descriptor_(::mkstemp(name_.data())),
        created_(descriptor_.get() >= 0) {}
  ~TemporaryFile() {
    if (created_ && !renamed_) ::unlink(name_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool created() const { return created_; }

  bool Write(std::string_view bytes) {
    errno = WriteAllOrError(descriptor_.get(), bytes.data(), bytes.size());
    return errno == 0;
  }

  // Closes now, so that a failing close is seen.
  bool Finish() {
    return ::fchmod(descriptor_.get(), 0600) == 0 && ::fsync(descriptor_.get()) == 0 &&
           ::close(descriptor_.Release()) == 0;
  }

  bool RenameTo(const std::filesystem::path& target) {
    renamed_ = ::rename(name_.c_str(), target.c_str()) == 0;
    return renamed_;
  }

 private:
  std::string name_;
  UniqueFd descriptor_;
  bool created_;
  bool renamed_ = false;
};

// The rename itself lasts only once the folder's entry is on disk.
void SyncFolder(const std::filesystem::path& folder) {
  const UniqueFd descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (descriptor.valid()) ::fsync(descriptor.get());
}

}  // namespace

FileContent ReadWholeFile(const std::filesystem::path& path) {
  RegularFileContent file = ReadRegularFile(path, kSettingsFileLimit, FinalLink::kFollow);
  switch (file.state) {
    case RegularFileState::kRead:
      return {FileState::Read, std::move(file.bytes)};
    case RegularFileState::kMissing:
      return {FileState::Missing, {}};
    case RegularFileState::kNotRegular:
      return {FileState::NotRegular, {}};
    case RegularFileState::kTooLarge:
      return {FileState::TooLarge, {}};
    case RegularFileState::kUnreadable:
      break;
  }
  return {FileState::Unreadable, {}};
}

PrivacyChange MakePrivate(const std::filesystem::path& file) {
  const UniqueFd descriptor(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info {};
  if (!descriptor.valid() || ::fstat(descriptor.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return PrivacyChange::Failed;
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) == 0) return PrivacyChange::AlreadyPrivate;
  return ::fchmod(descriptor.get(), info.st_mode & S_IRWXU) == 0 ? PrivacyChange::MadePrivate
                                                                 : PrivacyChange::Failed;
}

std::optional<std::filesystem::path> MoveAside(const std::filesystem::path& file,
                                               const std::string& stamp) {
  MakePrivate(file);
  for (int attempt = 1; attempt <= kMostAsideNames; ++attempt) {
    std::filesystem::path target = AsideName(file, stamp, attempt);
    if (MoveWithoutReplacing(file, target)) return target;
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

std::string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

long CreatePrivateFolders(const std::filesystem::path& folder) {
  std::filesystem::path partial;
  for (const std::filesystem::path& part : folder) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return ErrorCodeFor(errno);
  }
  std::error_code error;
  return std::filesystem::is_directory(folder, error) ? kErrorSuccess : kErrorPathNotFound;
}

long ReplaceFile(const std::filesystem::path& file, std::string_view bytes) {
  TemporaryFile temporary(file);
  if (!temporary.created()) return ErrorCodeFor(errno);
  if (!temporary.Write(bytes) || !temporary.Finish() || !temporary.RenameTo(file)) {
    return ErrorCodeFor(errno);
  }
  SyncFolder(file.parent_path());
  return kErrorSuccess;
}

}  // namespace qm
