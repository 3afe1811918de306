#include "mail/save/DestinationFolder.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <string_view>

#include "frame/settings/Failure.h"
#include "frame/settings/WriteAll.h"
#include "mail/save/Destination.h"
#include "mail/save/DestinationFile.h"
#include "mail/save/EndedRun.h"
#include "mail/save/FolderEntries.h"
#include "mail/save/ReservationJournal.h"

namespace qm {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
constexpr int kHiddenNameAttempts = 100;
constexpr mode_t kFileMode = 0644;  // the process umask is applied by open()
constexpr const char* kHiddenPrefix = ".quillmar-";
constexpr std::string_view kWorkSuffix = "work";  // "<prefix><pid>-work": the work folder
constexpr mode_t kWorkFolderMode = 0700;

// A batch is handed over when it holds this many files or bytes, or when its
// first file has waited this long, so that files keep appearing during a scan
// and the last batch, which the scan's end waits for, stays small.
constexpr std::size_t kBatchFiles = 256;
constexpr off_t kBatchBytes = off_t{64} * 1024 * 1024;
constexpr std::chrono::milliseconds kBatchAge{500};
// While a batch is being placed the next one grows; past this the scan waits.
constexpr std::size_t kMaxWaitingFiles = 4096;
constexpr off_t kMaxWaitingBytes = off_t{512} * 1024 * 1024;

void CopyContent(int from, int to, const std::string& what) {
  std::array<char, kChunk> buffer;
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw FileFailure(FailureKind::FileWrite, errno, "reading " + what);
    if (got == 0) return;
    WriteAll(to, buffer.data(), static_cast<std::size_t>(got), what);
  }
}

bool ReadExactly(int fd, char* buffer, std::size_t size) {
  while (size > 0) {
    const ssize_t got = ::read(fd, buffer, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// True when the regular files `a` and `b` in `dir` hold the same bytes.
bool SameContent(int dir, const std::string& a, const std::string& b) {
  const UniqueFd first(::openat(dir, a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  const UniqueFd second(::openat(dir, b.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat one {
  }, two{};
  if (!first.valid() || !second.valid() || ::fstat(first.get(), &one) != 0 ||
      ::fstat(second.get(), &two) != 0) {
    return false;
  }
  if (!S_ISREG(one.st_mode) || !S_ISREG(two.st_mode) || one.st_size != two.st_size) return false;
  std::array<char, kChunk> x, y;
  for (off_t left = one.st_size; left > 0;) {
    const auto n = static_cast<std::size_t>(std::min<off_t>(kChunk, left));
    if (!ReadExactly(first.get(), x.data(), n) || !ReadExactly(second.get(), y.data(), n)) {
      return false;
    }
    if (!std::equal(x.begin(), x.begin() + n, y.begin())) return false;
    left -= static_cast<off_t>(n);
  }
  return true;
}

// Size of the regular file `name` in `dir`; -1 for anything else.
off_t SizeOf(int dir, const std::string& name) {
  struct stat info {};
  if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
    return -1;
  }
  return info.st_size;
}

// This program does not read a saved file again. Once its bytes are on disk,
// its pages leave the cache: the next files are written into memory that was
// just in use, which costs far less than fresh pages, and a large scan does
// not push the user's other data out of the cache.
void ForgetPages(int dir, const std::string& name) {
  const UniqueFd file(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (file.valid()) ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_DONTNEED);
}

// A hidden file of ours in the folder, removed again unless released.
class HiddenFile {
 public:
  HiddenFile(int dir, std::string name) : dir_(dir), name_(std::move(name)) {}
  ~HiddenFile() {
    if (!name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
  }
  HiddenFile(const HiddenFile&) = delete;
  HiddenFile& operator=(const HiddenFile&) = delete;
  std::string Release() { return std::exchange(name_, {}); }

 private:
  int dir_;
  std::string name_;
};

}  // namespace

DestinationFolder::DestinationFolder(const std::string& path, std::function<void()> wait_for_writes)
    : path_(path),
      wait_for_writes_(std::move(wait_for_writes)),
      hidden_prefix_(RunPrefix(kHiddenPrefix)),
      random_(std::random_device{}()) {
  CheckDestination(path_);
  dir_.Reset(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info {};
  if (!dir_.valid() || ::fstat(dir_.get(), &info) != 0) {
    throw FileFailure(FailureKind::Destination, errno, "destination folder " + path_);
  }
  device_ = info.st_dev;
  inode_ = info.st_ino;
  // Reservations first: the journals naming them are hidden files too.
  ReservationJournal::RemoveAbandoned(dir_.get(), kHiddenPrefix);
  RemoveLeftovers();
  placement_.emplace(
      dir_.get(), path_, [this] { return NewHiddenName(); },
      ReservationJournal::NameFor(kHiddenPrefix));
  MakeWorkFolder();
}

// Attachment files are written here, on the destination's own file system,
// so that giving one its name is a rename: nothing is written twice, and no
// other file system needs room for them.
void DestinationFolder::MakeWorkFolder() {
  work_name_ = hidden_prefix_ + std::string(kWorkSuffix);
  if (::mkdirat(dir_.get(), work_name_.c_str(), kWorkFolderMode) != 0) {
    throw FileFailure(FailureKind::Destination, errno,
                      "cannot create a work folder in the destination folder " + path_);
  }
  work_folder_ = std::filesystem::path(path_) / work_name_;
}

DestinationFolder::~DestinationFolder() {
  // Already failing, or never committed: place what can be placed; what
  // cannot is removed.
  try {
    if (in_flight_.valid()) in_flight_.get();
  } catch (...) {
  }
  try {
    PlaceBatch(std::exchange(waiting_, {}));
  } catch (...) {
  }
  RemoveWorkFolder(work_name_);
}

// What is still in the work folder was never handed over: it goes.
void DestinationFolder::RemoveWorkFolder(const std::string& name) const {
  if (name.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(path_) / name, ignored);
}

void DestinationFolder::Add(const std::filesystem::path& source, const std::string& name) {
  CheckPlainName(path_, name);
  struct stat info {};
  if (::stat(source.c_str(), &info) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "reading " + source.string());
  }
  if (!S_ISREG(info.st_mode)) {
    throw FileFailure(FailureKind::FileWrite, EISDIR, "reading " + source.string());
  }
  const std::optional<std::string> written_here = InWorkFolder(source);
  const std::string hidden = written_here ? *written_here : MoveIn(source, info.st_dev);
  if (waiting_.empty()) first_waiting_ = std::chrono::steady_clock::now();
  waiting_.push_back({hidden, name, info.st_size});
  waiting_bytes_ += info.st_size;
  if (BatchIsFull()) HandOver(TooMuchWaiting());
}

void DestinationFolder::Commit() {
  HandOver(true);
  if (in_flight_.valid()) in_flight_.get();
  CheckStillInPlace();
  if (::fsync(dir_.get()) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "syncing destination folder " + path_);
  }
}

// On the same file system the file is renamed into the folder; from another
// one it is copied and the source deleted.
std::string DestinationFolder::MoveIn(const std::filesystem::path& source, dev_t source_device) {
  if (source_device == device_) {
    for (int attempt = 0; attempt < kHiddenNameAttempts; ++attempt) {
      std::string hidden = NewHiddenName();
      if (::renameat2(AT_FDCWD, source.c_str(), dir_.get(), hidden.c_str(), RENAME_NOREPLACE) ==
          0) {
        return hidden;
      }
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS) break;  // copy instead
      if (errno != EEXIST) throw FileFailure(FailureKind::FileWrite, errno, "saving " + path_);
    }
  }
  // A copy takes the bytes as they are now: a file still being written must
  // be complete first.
  if (wait_for_writes_) wait_for_writes_();
  std::string hidden = CopyIn(source);
  if (::unlink(source.c_str()) != 0) {
    const int error = errno;
    ::unlinkat(dir_.get(), hidden.c_str(), 0);
    throw FileFailure(FailureKind::FileWrite, error, "deleting attachment file " + source.string());
  }
  return hidden;
}

std::string DestinationFolder::CopyIn(const std::filesystem::path& source) {
  const UniqueFd input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!input.valid()) {
    throw FileFailure(FailureKind::FileWrite, errno, "reading " + source.string());
  }
  for (int attempt = 0; attempt < kHiddenNameAttempts; ++attempt) {
    std::string name = NewHiddenName();
    UniqueFd output(::openat(dir_.get(), name.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (!output.valid() && errno == EEXIST) continue;
    if (!output.valid()) {
      throw FileFailure(FailureKind::FileWrite, errno, "creating a file in " + path_);
    }
    HiddenFile copy(dir_.get(), name);
    CopyContent(input.get(), output.get(), source.filename().string());
    if (::close(output.Release()) != 0) {
      throw FileFailure(FailureKind::FileWrite, errno, "writing into " + path_);
    }
    return copy.Release();
  }
  throw FileFailure(FailureKind::FileWrite, EEXIST, "creating a file in " + path_);
}

std::string DestinationFolder::NewHiddenName() {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string name = hidden_prefix_;
  for (int i = 0; i < 8; ++i) name += kLetters[pick(random_)];
  return name;
}

// The name of `source` relative to the folder when it lies in the work
// folder; nothing when it is elsewhere.
std::optional<std::string> DestinationFolder::InWorkFolder(
    const std::filesystem::path& source) const {
  const std::filesystem::path relative = source.lexically_normal().lexically_relative(work_folder_);
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  return (std::filesystem::path(work_name_) / relative).string();
}

// Hidden files and work folders of runs that were killed while their files
// waited. Anything that is not ours, or that a running process may still
// own, is left alone.
void DestinationFolder::RemoveLeftovers() {
  for (const std::string& name : FolderEntries(dir_.get())) {
    struct stat info {};
    if (!MadeByEndedRun(name, kHiddenPrefix) ||
        ::fstatat(dir_.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        info.st_uid != ::getuid()) {
      continue;
    }
    if (S_ISREG(info.st_mode)) ::unlinkat(dir_.get(), name.c_str(), 0);
    if (S_ISDIR(info.st_mode) && name.ends_with("-" + std::string(kWorkSuffix))) {
      RemoveWorkFolder(name);
    }
  }
}

// The folder is held open, so a scan would go on saving into it after it
// was removed (where nothing is kept) or moved elsewhere (where the user no
// longer looks): either ends the scan before more files get names.
void DestinationFolder::CheckStillInPlace() const {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0 || info.st_dev != device_ || info.st_ino != inode_) {
    throw Failure(FailureKind::FileWrite, Cause::kSystem,
                  "the destination folder " + path_ + " was moved or removed during the scan",
                  ENOENT);
  }
}

bool DestinationFolder::BatchIsFull() const {
  return waiting_.size() >= kBatchFiles || waiting_bytes_ >= kBatchBytes ||
         std::chrono::steady_clock::now() - first_waiting_ >= kBatchAge;
}

bool DestinationFolder::TooMuchWaiting() const {
  return waiting_.size() >= kMaxWaitingFiles || waiting_bytes_ >= kMaxWaitingBytes;
}

// Starts placing the waiting files once the batch before them is done. Unless
// `wait`, a batch still being placed is not waited for: the files keep
// waiting and go with the next hand-over. Rethrows what the previous batch
// failed with.
void DestinationFolder::HandOver(bool wait) {
  if (in_flight_.valid()) {
    const bool done = in_flight_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    if (!done && !wait) return;
    in_flight_.get();
  }
  if (waiting_.empty()) return;
  waiting_bytes_ = 0;
  in_flight_ = std::async(
      std::launch::async,
      [this, batch = std::exchange(waiting_, {})]() mutable { PlaceBatch(std::move(batch)); });
}

// Once the batch's files are completely written: one flush of the file system
// for the whole batch, then the renames in order. Every file of the batch is
// either placed or removed, also when one of them fails.
void DestinationFolder::PlaceBatch(std::deque<Waiting> batch) {
  struct RemoveRest {
    int dir;
    std::deque<Waiting>& files;
    ~RemoveRest() {
      for (const Waiting& file : files) ::unlinkat(dir, file.hidden.c_str(), 0);
    }
  } remove_rest{dir_.get(), batch};
  if (batch.empty()) return;
  // A file that was not written completely never gets a final name. Files
  // that were still being written when added are measured again once complete.
  if (wait_for_writes_) {
    wait_for_writes_();
    for (Waiting& file : batch) file.size = SizeOf(dir_.get(), file.hidden);
  }
  CheckStillInPlace();
  if (::syncfs(dir_.get()) != 0) {
    // Bytes that may not have reached the disk never get a final name.
    throw FileFailure(FailureKind::FileWrite, errno, "writing into " + path_);
  }
  for (const Waiting& file : batch) ForgetPages(dir_.get(), file.hidden);
  while (!batch.empty()) {
    const Waiting file = std::move(batch.front());
    batch.pop_front();
    HiddenFile hidden(dir_.get(), file.hidden);
    Place(file);
    hidden.Release();
  }
  placement_->Settled();
}

// Gives the waiting file its final name, or drops it when a file of one of its
// candidate names holds the same bytes.
std::string DestinationFolder::Place(const Waiting& file) {
  std::vector<off_t>& taken = taken_[file.name];
  for (int number = 1; number <= kMaxNameNumber; ++number) {
    const std::string candidate = CandidateName(file.name, number);
    if (static_cast<std::size_t>(number) > taken.size()) {
      const int error = placement_->Rename(file.hidden, candidate);
      if (error == 0) {
        taken.push_back(file.size);
        return candidate;
      }
      if (error != EEXIST) {
        throw FileFailure(FailureKind::FileWrite, error, "saving " + file.name);
      }
      taken.push_back(SizeOf(dir_.get(), candidate));
    }
    if (taken[number - 1] == file.size && SameContent(dir_.get(), candidate, file.hidden)) {
      ::unlinkat(dir_.get(), file.hidden.c_str(), 0);
      return candidate;
    }
  }
  throw Failure(FailureKind::FileWrite, Cause::kSystem,
                "no free file name left for " + file.name + " in the destination folder", EEXIST);
}

}  // namespace qm
