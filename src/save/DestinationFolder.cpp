#include "save/DestinationFolder.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <string_view>

#include "base/Failure.h"
#include "save/BatchOnDisk.h"
#include "save/ContentDigest.h"
#include "save/Destination.h"
#include "save/DestinationFile.h"
#include "save/FolderEntries.h"
#include "save/ReservationJournal.h"

namespace qm {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
constexpr unsigned kFileMode = 0644;  // the process umask applies (POSIX only)
constexpr const char* kHiddenPrefix = ".quillmar-";
constexpr std::string_view kWorkSuffix = "work";  // "<run prefix>work": the work folder
// The work folder holds files and numbered folders of files; only this user
// can write into it. Removing it goes this deep at most, which is far more
// than any run of ours makes (an unpacked archive's paths have at most 32
// components).
constexpr int kWorkFolderDepth = 40;

// A batch is handed over when it holds this many files or bytes, or when its
// first file has waited this long, so that files keep appearing during a scan
// and the last batch, which the scan's end waits for, stays small.
constexpr std::size_t kBatchFiles = 256;
constexpr std::int64_t kBatchBytes = std::int64_t{64} * 1024 * 1024;
constexpr std::chrono::milliseconds kBatchAge{500};
// While a batch is being placed the next one grows; past this the scan waits.
constexpr std::size_t kMaxWaitingFiles = 4096;
constexpr std::int64_t kMaxWaitingBytes = std::int64_t{512} * 1024 * 1024;

// A UTF-8 text as a path: on Windows never through the ANSI code page.
std::filesystem::path PathOf(const std::string& utf8) {
  return std::u8string(utf8.begin(), utf8.end());
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

// True when the regular files `a` in `a_dir` and `b` in `b_dir` hold the
// same bytes. Nothing that could block (a FIFO put there) is opened.
bool SameContent(int a_dir, const std::string& a, int b_dir, const std::string& b) {
  const UniqueFd first(fs::OpenForReading(a_dir, a));
  const UniqueFd second(fs::OpenForReading(b_dir, b));
  fs::EntryInfo one, two;
  if (!first.valid() || !second.valid() || fs::InfoOf(first.get(), one) != 0 ||
      fs::InfoOf(second.get(), two) != 0 || one.size != two.size) {
    return false;
  }
  std::array<char, kChunk> x, y;
  for (std::uint64_t left = one.size; left > 0;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, left));
    if (!ReadExactly(first.get(), x.data(), n) || !ReadExactly(second.get(), y.data(), n)) {
      return false;
    }
    if (!std::equal(x.begin(), x.begin() + n, y.begin())) return false;
    left -= n;
  }
  return true;
}

// What the entry `name` in `dir` is now; nothing when it is not a regular file.
std::optional<fs::EntryInfo> RegularFileInfo(int dir, const std::string& name) {
  fs::EntryInfo info;
  if (fs::InfoOfEntry(dir, name, info) != 0 || info.kind != fs::EntryKind::kRegular) {
    return std::nullopt;
  }
  return info;
}

// Size of the regular file `name` in `dir`; -1 for anything else.
std::int64_t SizeOf(int dir, const std::string& name) {
  const std::optional<fs::EntryInfo> info = RegularFileInfo(dir, name);
  return info ? static_cast<std::int64_t>(info->size) : -1;
}

std::optional<FileIdentity> IdentityOf(int dir, const std::string& name) {
  const std::optional<fs::EntryInfo> info = RegularFileInfo(dir, name);
  return info ? std::optional(info->identity) : std::nullopt;
}

// The file that waited for its name is gone or another file now: someone
// else is at work in the folder. Said in words, since Windows' C runtime has
// no ESTALE; EBUSY tells the window it is neither a full disk, a missing
// folder nor a refused access.
Failure FileReplaced(const std::string& name) {
  return Failure(FailureKind::FileWrite, Cause::kSystem,
                 "saving " + name + ": the file was removed or replaced while it waited", EBUSY);
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
  PagesToForget(int dir, const std::string& name) : file_(fs::OpenForReading(dir, name)) {}
  ~PagesToForget() {
    if (file_.valid()) fs::DropCachedPages(file_.get());
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
    if (!name_.empty()) fs::RemoveFile(dir_, name_);
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
  dir_ = OpenDestination(path_);
  fs::EntryInfo info;
  if (fs::InfoOf(dir_.get(), info) != 0) {
    throw FileFailure(FailureKind::Destination, errno, "destination folder " + path_);
  }
  identity_ = info.identity;
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
// every file: a file created now shows which. On Windows the files of an
// elevated administrator belong to the Administrators group, not to the user.
void DestinationFolder::LearnOwnOwner() {
  const std::string probe = NewHiddenName();
  const UniqueFd created(fs::CreateExclusive(dir_.get(), probe, kFileMode));
  fs::EntryInfo info;
  if (!created.valid() || fs::InfoOf(created.get(), info) != 0) {
    throw FileFailure(FailureKind::Destination, errno,
                      "cannot write into destination folder " + path_);
  }
  fs::RemoveFile(dir_.get(), probe);
  own_owner_ = info.owner;
}

// Attachment files are written here, on the destination's own file system,
// so that giving one its name is a rename: nothing is written twice, and no
// other file system needs room for them. The folder is held open from the
// start: whatever later takes its name in the destination is never used.
void DestinationFolder::MakeWorkFolder() {
  work_name_ = hidden_prefix_ + std::string(kWorkSuffix);
  const std::string what = "cannot create a work folder in the destination folder " + path_;
  if (fs::MakeFolder(dir_.get(), work_name_) != 0) {
    throw FileFailure(FailureKind::Destination, errno, what);
  }
  work_ = HeldFolder::Open(dir_.get(), work_name_);
  if (!work_.valid()) throw FileFailure(FailureKind::Destination, errno, what);
  // Made by us a moment ago, unless someone swapped it for a folder of theirs.
  if (work_.owner() != own_owner_ || work_.device() != identity_.device) {
    work_ = HeldFolder();
    throw FileFailure(FailureKind::Destination, EPERM, what);
  }
  work_path_ = PathOf(path_) / PathOf(work_name_);
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
  RemoveHeldFolder(std::exchange(work_, HeldFolder()), work_name_);
}

// Empties `folder`, the entry `name` of the destination, and removes it
// unless it was replaced meanwhile. It is closed first: Windows removes no
// folder held open, and while held there nobody could have replaced it.
void DestinationFolder::RemoveHeldFolder(HeldFolder folder, const std::string& name) const {
  EmptyFolder(folder.fd(), kWorkFolderDepth);
  const bool still_there = folder.IsEntry(dir_.get(), name);
  folder = HeldFolder();
  if (still_there) fs::RemoveEmptyFolder(dir_.get(), name);
}

void DestinationFolder::Add(const WrittenFile& file, const std::string& name,
                            std::int64_t message) {
  CheckPlainName(name);
  if (IdentityOf(work_.fd(), file.name) != file.identity) {
    throw FileReplaced(file.name);
  }
  Wait(file.name, name, message);
}

// The file `hidden` of the work folder waits for its batch; what it is now
// is what it must still be when it gets its name.
void DestinationFolder::Wait(std::string hidden, const std::string& name, std::int64_t message) {
  fs::EntryInfo info;
  if (fs::InfoOfEntry(work_.fd(), hidden, info) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "saving " + name);
  }
  const auto size = static_cast<std::int64_t>(info.size);
  if (waiting_.empty()) first_waiting_ = std::chrono::steady_clock::now();
  waiting_.push_back({std::move(hidden), name, size, info.identity, message});
  waiting_bytes_ += size;
  if (BatchIsFull()) HandOver(TooMuchWaiting());
}

// Every file added so far gets its name, or is listed unplaced.
void DestinationFolder::PlaceAllWaiting() {
  HandOver(true);
  if (in_flight_.valid()) in_flight_.get();
}

void DestinationFolder::Commit() {
  PlaceAllWaiting();
  CheckStillInPlace();
  if (fs::FlushFolder(dir_.get()) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "syncing destination folder " + path_);
  }
}

std::string DestinationFolder::MakeWorkSubfolder() {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name = NewHiddenName();
    if (fs::MakeFolder(work_.fd(), name) == 0) return name;
    if (errno != EEXIST) break;
  }
  throw FileFailure(FailureKind::FileWrite, errno, "making a folder in " + fs::NameOf(work_path_));
}

std::string DestinationFolder::PlaceFolder(const std::string& folder, const std::string& name) {
  CheckPlainName(name);
  PlaceAllWaiting();
  if (const int error = PutBatchOnDisk(dir_.get(), work_.fd(), {}); error != 0) {
    throw FileFailure(FailureKind::FileWrite, error, "saving " + name);
  }
  for (int number = 1; number <= max_name_number_; ++number) {
    const std::string candidate = CandidateName(name, number);
    const int error = placement_->RenameFolder(work_.fd(), folder, candidate);
    if (error == 0) {
      placement_->Settled();
      if (fs::FlushFolder(dir_.get()) != 0) {
        throw FileFailure(FailureKind::FileWrite, errno, "syncing destination folder " + path_);
      }
      return candidate;
    }
    if (error != EEXIST && error != ENOTEMPTY && error != ENOTDIR) {
      throw FileFailure(FailureKind::FileWrite, error, "saving " + candidate);
    }
  }
  throw FileFailure(FailureKind::FileWrite, EEXIST,
                    "no free folder name left for " + name + " in the destination folder");
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
    fs::EntryInfo info;
    if (!runs_.MadeByEndedRun(name) || fs::InfoOfEntry(dir_.get(), name, info) != 0 ||
        info.owner != own_owner_) {
      continue;
    }
    if (info.kind == fs::EntryKind::kRegular) fs::RemoveFile(dir_.get(), name);
    if (info.kind == fs::EntryKind::kFolder && name.ends_with("-" + std::string(kWorkSuffix))) {
      RemoveLeftoverFolder(name);
    }
  }
}

// Judged by what is opened, not by what was listed: the entry may have been
// swapped for another user's folder meanwhile.
void DestinationFolder::RemoveLeftoverFolder(const std::string& name) {
  HeldFolder folder = HeldFolder::Open(dir_.get(), name);
  if (!folder.valid() || folder.owner() != own_owner_) return;
  RemoveHeldFolder(std::move(folder), name);
}

// The folder is held open, so a scan would go on saving into it after it
// was removed (where nothing is kept) or moved elsewhere (where the user no
// longer looks): either ends the scan before more files get names.
void DestinationFolder::CheckStillInPlace() const {
  const UniqueFd now(fs::OpenFolder(fs::kNoFolder, path_, fs::FinalLink::kFollow));
  fs::EntryInfo info;
  if (!now.valid() || fs::InfoOf(now.get(), info) != 0 || info.identity != identity_) {
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
      for (const Waiting& file : files) fs::RemoveFile(dir, file.hidden);
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
  std::vector<std::string> hidden_names;
  for (const Waiting& file : batch) hidden_names.push_back(file.hidden);
  if (const int error = PutBatchOnDisk(dir_.get(), work_.fd(), hidden_names); error != 0) {
    // Bytes that may not have reached the disk never get a final name.
    throw FileFailure(FailureKind::FileWrite, error, "writing into " + path_);
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
    throw FileReplaced(file.name);
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
      placed_.push_back({file.message, file.name, candidate, file.identity});
      return true;
    }
    if (RefusesTheName(error)) {
      return give_up(FileFailure(FailureKind::FileWrite, error, "saving " + candidate).what());
    }
    if (error != EEXIST) throw FileFailure(FailureKind::FileWrite, error, "saving " + file.name);
    const std::int64_t size = SizeOf(dir_.get(), candidate);
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
