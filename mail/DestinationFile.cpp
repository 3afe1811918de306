#include "mail/DestinationFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <random>
#include <string>

#include "frame/Failure.h"

namespace qm {
namespace {

constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kChunk = 64 * 1024;
constexpr int kTempAttempts = 100;
constexpr mode_t kFileMode = 0644;  // the process umask is applied by open()

std::size_t ExtensionStart(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return (dot == std::string_view::npos || dot == 0) ? name.size() : dot;
}

// Shortens `stem` to at most `limit` bytes without splitting a UTF-8 character.
std::string_view CutAtCharacter(std::string_view stem, std::size_t limit) {
  if (stem.size() <= limit) return stem;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(stem[end]) & 0xC0) == 0x80) --end;
  return stem.substr(0, end);
}

std::string CandidateName(const std::string& name, int number) {
  return number == 1 ? name : NumberedName(name, number);
}

UniqueFd OpenFolder(const std::string& folder) {
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) {
    throw FileFailure(FailureKind::Destination, errno, "destination folder " + folder);
  }
  return dir;
}

void WriteAll(int fd, const char* data, std::size_t size, const std::string& what) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw FileFailure(FailureKind::FileWrite, written < 0 ? errno : EIO, what);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
  ssize_t got;
  do {
    got = ::read(fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

void CopyContent(int from, int to, const std::string& what) {
  std::array<char, kChunk> buffer;
  for (;;) {
    const ssize_t got = ReadSome(from, buffer.data(), buffer.size());
    if (got < 0) throw FileFailure(FailureKind::FileWrite, errno, "reading " + what);
    if (got == 0) return;
    WriteAll(to, buffer.data(), static_cast<std::size_t>(got), "writing " + what);
  }
}

bool ReadExactly(int fd, char* buffer, std::size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t got = ::pread(fd, buffer, size, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer += got;
    size -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

// True when the regular file `name` in `dir` holds exactly the bytes of `fd`.
bool SameContent(int dir, const std::string& name, int fd) {
  UniqueFd other(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat mine {
  }, theirs{};
  if (!other.valid() || ::fstat(fd, &mine) != 0 || ::fstat(other.get(), &theirs) != 0) {
    return false;
  }
  if (!S_ISREG(theirs.st_mode) || mine.st_size != theirs.st_size) return false;
  std::array<char, kChunk> a, b;
  for (off_t at = 0; at < mine.st_size;) {
    const auto n = static_cast<std::size_t>(std::min<off_t>(kChunk, mine.st_size - at));
    if (!ReadExactly(fd, a.data(), n, at) || !ReadExactly(other.get(), b.data(), n, at)) {
      return false;
    }
    if (!std::equal(a.begin(), a.begin() + n, b.begin())) return false;
    at += static_cast<off_t>(n);
  }
  return true;
}

// A hidden file in the destination folder that is removed again unless it was
// renamed to its final name.
class TempFile {
 public:
  explicit TempFile(int dir) : dir_(dir) {
    std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
      name_ = ".quillmar-" + RandomSuffix(random);
      fd_.Reset(::openat(dir_, name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode));
      if (fd_.valid()) return;
      if (errno != EEXIST) {
        throw FileFailure(FailureKind::FileWrite, errno, "creating a file in the destination");
      }
    }
    throw FileFailure(FailureKind::FileWrite, EEXIST, "creating a file in the destination");
  }
  ~TempFile() {
    if (!name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_.get(); }
  const std::string& name() const { return name_; }
  void Renamed() { name_.clear(); }

 private:
  static std::string RandomSuffix(std::mt19937& random) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string suffix(6, 'x');
    for (char& c : suffix) c = kLetters[pick(random)];
    return suffix;
  }

  int dir_;
  std::string name_;
  UniqueFd fd_;
};

// Renames without replacing; falls back to link + unlink where the file
// system does not offer RENAME_NOREPLACE. Returns 0 or an errno value.
int RenameNoReplace(int dir, const std::string& from, const std::string& to) {
  if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0) return errno;
  ::unlinkat(dir, from.c_str(), 0);
  return 0;
}

// Gives the synced temporary file its final name; returns the name used.
std::string PlaceUnderFreeName(int dir, TempFile& temp, const std::string& name) {
  for (int number = 1; number <= kMaxNameNumber; ++number) {
    const std::string candidate = CandidateName(name, number);
    const int error = RenameNoReplace(dir, temp.name(), candidate);
    if (error == 0) {
      temp.Renamed();
      return candidate;
    }
    if (error != EEXIST) throw FileFailure(FailureKind::FileWrite, error, "saving " + name);
    if (SameContent(dir, candidate, temp.fd())) return candidate;  // temp goes
  }
  throw Failure(FailureKind::FileWrite, errnum::kFileAccess,
                "no free file name left for " + name + " in the destination folder");
}

}  // namespace

std::string NumberedName(std::string_view name, int number) {
  const std::string suffix = " (" + std::to_string(number) + ")";
  const std::size_t dot = ExtensionStart(name);
  std::string_view stem = name.substr(0, dot);
  std::string_view extension = name.substr(dot);
  if (stem.size() + suffix.size() + extension.size() > kMaxNameBytes) {
    const std::size_t room = kMaxNameBytes - suffix.size();
    if (extension.size() > room / 2) extension = "";  // an absurd extension gives way
    stem = CutAtCharacter(stem, room - extension.size());
  }
  return std::string(stem) + suffix + std::string(extension);
}

void CheckPlainName(const std::filesystem::path& folder, const std::string& name) {
  const bool plain = !name.empty() && name != "." && name != ".." &&
                     name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
  // The joined path itself must sit directly in the folder: an absolute name
  // would replace the folder, a separator would add a level.
  const std::filesystem::path joined = folder / name;
  const bool inside =
      joined.filename() == name && joined.parent_path() == (folder / "probe").parent_path();
  if (!plain || !inside) {
    throw Failure(FailureKind::FileWrite, errnum::kFileAccess,
                  "refused to save under a name that is not a plain file name: \"" + name + "\"");
  }
}

NewFile CreateFreshFile(const std::filesystem::path& folder, const std::string& name) {
  CheckPlainName(folder, name);
  for (int number = 1; number <= kMaxNameNumber; ++number) {
    std::filesystem::path path = folder / CandidateName(name, number);
    UniqueFd fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (fd.valid()) return {std::move(fd), std::move(path)};
    if (errno != EEXIST)
      throw FileFailure(FailureKind::FileWrite, errno, "creating " + path.string());
  }
  throw Failure(FailureKind::FileWrite, errnum::kFileAccess,
                "no free file name left for " + name + " in " + folder.string());
}

std::filesystem::path SaveIntoFolder(const std::filesystem::path& source, const std::string& folder,
                                     const std::string& name) {
  CheckPlainName(folder, name);
  const UniqueFd dir = OpenFolder(folder);
  const UniqueFd input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!input.valid())
    throw FileFailure(FailureKind::FileWrite, errno, "reading " + source.string());

  TempFile temp(dir.get());
  CopyContent(input.get(), temp.fd(), name);
  // The content is on disk before it gets a final name; the name itself is
  // made lasting once for all files, by SyncSavedNames before marks are applied.
  if (::fdatasync(temp.fd()) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "writing " + name);
  }
  const std::string placed = PlaceUnderFreeName(dir.get(), temp, name);
  return std::filesystem::path(folder) / placed;
}

void SyncSavedNames(const std::string& folder) {
  const UniqueFd dir = OpenFolder(folder);
  if (::fsync(dir.get()) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "syncing destination folder " + folder);
  }
}

}  // namespace qm
