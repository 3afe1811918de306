#include "save/DestinationFolder.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <string_view>

#include "base/Failure.h"
#include "save/ContentDigest.h"
#include "save/Destination.h"
#include "save/DestinationFile.h"
#include "save/FolderEntries.h"
#include "save/ReservationJournal.h"

namespace qm {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
constexpr mode_t kFileMode = 0644;  // the process umask is applied by open()
constexpr const char* kHiddenPrefix = ".quillmar-";
constexpr std::string_view kWorkSuffix = "work";  // "<run prefix>work": the work folder
constexpr mode_t kWorkFolderMode = 0700;
// The work folder holds files and numbered folders of files; only this user
// can write into it. Removing it goes this deep at most, which is far more
// than any run of ours makes.
constexpr int kWorkFolderDepth = 16;

// A batch is handed over when it holds this many files or bytes, or when its
// first file has waited this long, so that files keep appearing during a scan
// and the last batch, which the scan's end waits for, stays small.
constexpr std::size_t kBatchFiles = 256;
constexpr off_t kBatchBytes = off_t{64} * 1024 * 1024;
constexpr std::chrono::milliseconds kBatchAge{500};
// While a batch is being placed the next one grows; past this the scan waits.
constexpr std::size_t kMaxWaitingFiles = 4096;
constexpr off_t kMaxWaitingBytes = off_t{512} * 1024 * 1024;

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

// True when the regular files `a` in `a_dir` and `b` in `b_dir` hold the
// same bytes. Nothing that could block (a FIFO put there) is opened.
bool SameContent(int a_dir, const std::string& a, int b_dir, const std::string& b) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  const UniqueFd first(::openat(a_dir, a.c_str(), kFlags));
  const UniqueFd second(::openat(b_dir, b.c_str(), kFlags));
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

// What the entry `name` in `dir` is now; nothing when it is not a regular file.
std::optional<FileIdentity> IdentityOf(int dir, const std::string& name) {
  struct stat info {};
  if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return FileIdentity{info.st_dev, info.st_ino};
}

// Errors of one name rather than of the folder: the file system refuses that
// name. The file is given up, the scan goes on.
bool RefusesTheName(int error) {
  return error == ENAMETOOLONG || error == EINVAL || error == EILSEQ;
}

// This program does not read a saved file again. Once its bytes are on disk,
// its pages leave the cache: the next files are written into memory that was
// just in use, which costs far less than fresh pages, and a large scan does
// not push the user's other data out of the cache. Held open while the file
// is placed (which may read it once more, to compare it), then let go.
class PagesToForget {
 public:
  PagesToForget(int dir, const std::string& name)
      : file_(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)) {}
  ~PagesToForget() {
    if (file_.valid()) ::posix_fadvise(file_.get(), 0, 0, POSIX_FADV_DONTNEED);
  }
  PagesToForget(const PagesToForget&) = delete;
  PagesToForget& operator=(const PagesToForget&) = delete;

 private:
  UniqueFd file_;
};

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

DestinationFolder::DestinationFolder(const std::string& path, std::function<void()> wait_for_writes,
                                     int max_name_number)
    : path_(path),
      wait_for_writes_(std::move(wait_for_writes)),
      max_name_number_(max_name_number),
      runs_(RunNames::OfThisRun(kHiddenPrefix)),
      hidden_prefix_(runs_.Prefix()),
      random_(std::random_device{}()) {
  CheckDestination(path_);
  dir_.Reset(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info {};
  if (!dir_.valid() || ::fstat(dir_.get(), &info) != 0) {
    throw FileFailure(FailureKind::Destination, errno, "destination folder " + path_);
  }
  identity_ = {info.st_dev, info.st_ino};
  LearnOwnOwner();
  // Reservations first: the journals naming them are hidden files too.
  ReservationJournal::RemoveAbandoned(dir_.get(), runs_, own_owner_);
  RemoveLeftovers();
  placement_.emplace(
      dir_.get(), path_, [this] { return NewHiddenName(); }, ReservationJournal::NameFor(runs_));
  MakeWorkFolder();
}

// What is ours is told by its owner. File systems without owners of their
// own (exFAT, SMB and FUSE mounts) show one owner, chosen when mounted, for
// every file: a file created now shows which.
void DestinationFolder::LearnOwnOwner() {
  const std::string probe = NewHiddenName();
  const UniqueFd created(::openat(dir_.get(), probe.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
  struct stat info {};
  if (!created.valid() || ::fstat(created.get(), &info) != 0) {
    throw FileFailure(FailureKind::Destination, errno,
                      "cannot write into destination folder " + path_);
  }
  ::unlinkat(dir_.get(), probe.c_str(), 0);
  own_owner_ = info.st_uid;
}

// Attachment files are written here, on the destination's own file system,
// so that giving one its name is a rename: nothing is written twice, and no
// other file system needs room for them. The folder is held open from the
// start: whatever later takes its name in the destination is never used.
void DestinationFolder::MakeWorkFolder() {
  work_name_ = hidden_prefix_ + std::string(kWorkSuffix);
  const std::string what = "cannot create a work folder in the destination folder " + path_;
  if (::mkdirat(dir_.get(), work_name_.c_str(), kWorkFolderMode) != 0) {
    throw FileFailure(FailureKind::Destination, errno, what);
  }
  work_ = HeldFolder::Open(dir_.get(), work_name_);
  if (!work_.valid()) throw FileFailure(FailureKind::Destination, errno, what);
  // Made by us a moment ago, unless someone swapped it for a folder of theirs.
  if (work_.owner() != own_owner_ || work_.device() != identity_.device) {
    work_ = HeldFolder();
    throw FileFailure(FailureKind::Destination, EPERM, what);
  }
  work_path_ = std::filesystem::path(path_) / work_name_;
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
  RemoveWorkFolder();
}

// What is still in the work folder was never handed over: it goes, through
// the folder's own descriptor. Its entry goes only while it is still that
// folder.
void DestinationFolder::RemoveWorkFolder() {
  if (!work_.valid()) return;
  EmptyFolder(work_.fd(), kWorkFolderDepth);
  if (work_.IsEntry(dir_.get(), work_name_))
    ::unlinkat(dir_.get(), work_name_.c_str(), AT_REMOVEDIR);
}

void DestinationFolder::Add(const WrittenFile& file, const std::string& name,
                            std::int64_t message) {
  CheckPlainName(name);
  if (IdentityOf(work_.fd(), file.name) != file.identity) {
    throw FileFailure(FailureKind::FileWrite, ESTALE, "saving " + file.name);
  }
  Wait(file.name, name, message);
}

// The file `hidden` of the work folder waits for its batch; what it is now
// is what it must still be when it gets its name.
void DestinationFolder::Wait(std::string hidden, const std::string& name, std::int64_t message) {
  struct stat info {};
  if (::fstatat(work_.fd(), hidden.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "saving " + name);
  }
  if (waiting_.empty()) first_waiting_ = std::chrono::steady_clock::now();
  waiting_.push_back({std::move(hidden), name, info.st_size, {info.st_dev, info.st_ino}, message});
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

std::string DestinationFolder::NewHiddenName() {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string name = hidden_prefix_;
  for (int i = 0; i < 8; ++i) name += kLetters[pick(random_)];
  return name;
}

// Hidden files and work folders of ended runs of this user on this host.
// Anything that is not ours, or that a running process may still own, is
// left alone.
void DestinationFolder::RemoveLeftovers() {
  for (const std::string& name : FolderEntries(dir_.get())) {
    struct stat info {};
    if (!runs_.MadeByEndedRun(name) ||
        ::fstatat(dir_.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        info.st_uid != own_owner_) {
      continue;
    }
    if (S_ISREG(info.st_mode)) ::unlinkat(dir_.get(), name.c_str(), 0);
    if (S_ISDIR(info.st_mode) && name.ends_with("-" + std::string(kWorkSuffix))) {
      RemoveLeftoverFolder(name);
    }
  }
}

// Judged by what is opened, not by what was listed: the entry may have been
// swapped for another user's folder meanwhile.
void DestinationFolder::RemoveLeftoverFolder(const std::string& name) {
  const HeldFolder folder = HeldFolder::Open(dir_.get(), name);
  if (!folder.valid() || folder.owner() != own_owner_) return;
  EmptyFolder(folder.fd(), kWorkFolderDepth);
  if (folder.IsEntry(dir_.get(), name)) ::unlinkat(dir_.get(), name.c_str(), AT_REMOVEDIR);
}

// The folder is held open, so a scan would go on saving into it after it
// was removed (where nothing is kept) or moved elsewhere (where the user no
// longer looks): either ends the scan before more files get names.
void DestinationFolder::CheckStillInPlace() const {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0 || FileIdentity{info.st_dev, info.st_ino} != identity_) {
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
  } remove_rest{work_.fd(), batch};
  if (batch.empty()) return;
  // A file that was not written completely never gets a final name. Files
  // that were still being written when added are measured again once complete.
  if (wait_for_writes_) {
    wait_for_writes_();
    for (Waiting& file : batch) file.size = SizeOf(work_.fd(), file.hidden);
  }
  CheckStillInPlace();
  if (::syncfs(dir_.get()) != 0) {
    // Bytes that may not have reached the disk never get a final name.
    throw FileFailure(FailureKind::FileWrite, errno, "writing into " + path_);
  }
  while (!batch.empty()) {
    const Waiting file = std::move(batch.front());
    batch.pop_front();
    const PagesToForget pages(work_.fd(), file.hidden);
    HiddenFile hidden(work_.fd(), file.hidden);
    // Once renamed, the name may soon be a new file of the work folder's.
    if (Place(file)) hidden.Release();
  }
  placement_->Settled();
}

// Gives the waiting file its final name (true), or leaves it for the caller
// to remove: when an entry of one of its candidate names holds the same
// bytes, or when no name can be given to it (listed as unplaced).
bool DestinationFolder::Place(const Waiting& file) {
  const auto give_up = [&](const std::string& reason) {
    unplaced_.push_back({file.message, file.name, reason});
    return false;
  };
  // Gone or replaced: someone else is at work in the folder, which ends the
  // scan like a folder that went away.
  if (IdentityOf(work_.fd(), file.hidden) != file.identity) {
    throw FileFailure(FailureKind::FileWrite, ESTALE, "saving " + file.name);
  }
  std::string digest;  // of the new file, read once and only when needed
  const auto content = [&] {
    if (digest.empty()) digest = ContentDigest(work_.fd(), file.hidden);
    return digest;
  };
  const TakenNames::DigestOf digest_of = [&](int number) {
    return ContentDigest(dir_.get(), CandidateName(file.name, number));
  };
  if (taken_.HasSize(file.name, file.size) &&
      DropIfCopy(file, taken_.WithContent(file.name, file.size, content(), digest_of))) {
    return false;
  }
  for (int number = taken_.count(file.name) + 1; number <= max_name_number_; ++number) {
    const std::string candidate = CandidateName(file.name, number);
    const int error = placement_->Rename(work_.fd(), file.hidden, candidate);
    if (error == 0) {
      taken_.Add(file.name, file.size, digest);
      return true;
    }
    if (RefusesTheName(error)) {
      return give_up(FileFailure(FailureKind::FileWrite, error, "saving " + candidate).what());
    }
    if (error != EEXIST) throw FileFailure(FailureKind::FileWrite, error, "saving " + file.name);
    const off_t size = SizeOf(dir_.get(), candidate);
    taken_.Add(file.name, size);
    if (size == file.size &&
        DropIfCopy(file, taken_.WithContent(file.name, file.size, content(), digest_of))) {
      return false;
    }
  }
  return give_up("no free file name left for " + file.name + " in the destination folder");
}

// True when one of the entries numbered `numbers` holds the same bytes as
// `file`: the new copy is not needed.
bool DestinationFolder::DropIfCopy(const Waiting& file, const std::vector<int>& numbers) {
  for (const int number : numbers) {
    if (SameContent(dir_.get(), CandidateName(file.name, number), work_.fd(), file.hidden)) {
      return true;
    }
  }
  return false;
}

}  // namespace qm
