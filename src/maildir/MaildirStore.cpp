#include "maildir/MaildirStore.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>
#include <tuple>
#include <vector>

#include "base/Failure.h"
#include "maildir/MaildirName.h"
#include "store/HeaderBlock.h"
#include "store/UnreadableMessage.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kHeaderLimit = 1 << 20;  // a header block is never read past 1 MiB
constexpr std::size_t kReadChunk = 4096;
constexpr int kRenameAttempts = 5;  // another client may rename a file again and again

Failure MailFailure(const std::string& what, const fs::path& file, int error) {
  return Failure(FailureKind::MailStore, Cause::kMailServer,
                 what + " " + file.string() + ": " + std::strerror(error));
}

std::string_view UniqueView(std::string_view name) { return SplitMaildirName(name).unique; }

// The delivery time of a message: the seconds at the start of its name, or the
// file's modification time for a name that does not start with a number.
std::int64_t DeliveryTime(const fs::path& file) {
  const std::string name = file.filename().string();
  std::int64_t seconds = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), seconds);
  if (end != name.data() && error == std::errc()) return seconds;
  if (error == std::errc::result_out_of_range) return std::numeric_limits<std::int64_t>::max();
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) return 0;  // gone meanwhile: sorts first, skipped later
  return info.st_mtim.tv_sec;
}

// Reads from the start of the file up to the end of the header block (the first
// empty line), at most kHeaderLimit bytes.
std::string ReadHeaderBlock(int fd, const fs::path& file) {
  std::string block;
  char chunk[kReadChunk];
  while (block.size() < kHeaderLimit) {
    const ssize_t got = ::read(fd, chunk, std::min(sizeof chunk, kHeaderLimit - block.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw UnreadableMessage(file.string(), std::strerror(errno));
    if (got == 0) break;
    const std::size_t scan_from = block.size() < 2 ? 0 : block.size() - 2;
    block.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t i = block.find('\n', scan_from); i != std::string::npos;
         i = block.find('\n', i + 1)) {
      const std::size_t next = i + 1;
      if (next < block.size() && block[next] == '\n') return block.substr(0, next);
      if (next + 1 < block.size() && block[next] == '\r' && block[next + 1] == '\n') {
        return block.substr(0, next);
      }
    }
  }
  return block;
}

// Renames `from` to `to` unless `to` exists; 0, EEXIST or another errno
// value. File systems without a rename that refuses to replace get a check
// first: another client could take the name in between, but only for the
// same message, as names are unique.
int RenameWithoutReplacing(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  struct stat info {};
  if (::lstat(to.c_str(), &info) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw MailFailure("cannot open", folder, errno);
  const UniqueFd owner(fd);
  if (::fsync(fd) != 0) throw MailFailure("cannot sync", folder, errno);
}

}  // namespace

MaildirStore::MaildirStore(std::filesystem::path folder) : folder_(std::move(folder)) {
  std::error_code error;
  if (!fs::is_directory(folder_ / "cur", error) || !fs::is_directory(folder_ / "new", error)) {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "not a Maildir (it needs the folders cur and new): " + folder_.string());
  }
}

std::size_t MaildirStore::List() {
  std::vector<Entry> found;
  int colon_names = 0, bang_names = 0;
  for (const char* sub : {"cur", "new"}) {
    std::error_code error;
    fs::directory_iterator it(folder_ / sub, error);
    if (error) throw MailFailure("cannot list", folder_ / sub, error.value());
    for (; it != fs::directory_iterator(); it.increment(error)) {
      std::string name = it->path().filename().string();
      if (name.empty() || name[0] == '.') continue;
      // A folder, a socket or a dangling link is no message; it must not
      // stop the scan of the messages beside it.
      std::error_code type_error;
      if (!it->is_regular_file(type_error)) continue;
      const char separator = SplitMaildirName(name).separator;
      colon_names += separator == ':';
      bang_names += separator == '!';
      const std::int64_t time = DeliveryTime(it->path());
      found.push_back(Entry{std::move(name), time, sub == std::string_view("new")});
    }
    if (error) throw MailFailure("cannot list", folder_ / sub, error.value());
  }
  // A folder whose names use '!' keeps doing so when a message without any
  // info is marked read.
  separator_ = bang_names > 0 && colon_names == 0 ? '!' : ':';
  // A file moved from new/ to cur/ while listing is listed once, as in cur/.
  std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
    return std::tuple(UniqueView(a.name), a.in_new) < std::tuple(UniqueView(b.name), b.in_new);
  });
  found.erase(std::unique(found.begin(), found.end(),
                          [](const Entry& a, const Entry& b) {
                            return UniqueView(a.name) == UniqueView(b.name);
                          }),
              found.end());
  std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.time, a.name) < std::tie(b.time, b.name);
  });
  found.shrink_to_fit();
  entries_ = std::move(found);
  return entries_.size();
}

std::filesystem::path MaildirStore::PathOf(const Entry& entry) const {
  return folder_ / (entry.in_new ? "new" : "cur") / entry.name;
}

const MaildirStore::Entry& MaildirStore::At(std::size_t index) const {
  if (index >= entries_.size()) {
    throw Failure(FailureKind::Internal, Cause::kInternal, "message index out of range");
  }
  return entries_[index];
}

bool MaildirStore::IsRead(std::size_t index) {
  const Entry& entry = At(index);
  return !entry.in_new && IsSeenName(entry.name);
}

std::string MaildirStore::Describe(std::size_t index) const { return PathOf(At(index)).string(); }

RawHeaders MaildirStore::Headers(std::size_t index) {
  const UniqueFd fd = OpenMessage(index, -1);
  if (!fd.valid()) return {};  // deleted meanwhile: nothing to match on
  return ParseHeaderBlock(ReadHeaderBlock(fd.get(), PathOf(At(index))));
}

// A message renamed by another client meanwhile is found again by its unique
// part; one that is gone gives an invalid descriptor. Opened without waiting,
// so that something put in its place that is not a file cannot hang the scan.
UniqueFd MaildirStore::OpenMessage(std::size_t index, int /*spool_folder*/) {
  const Entry& entry = At(index);
  std::optional<fs::path> path = PathOf(entry);
  for (int attempt = 0; path && attempt < kRenameAttempts; ++attempt) {
    UniqueFd fd(::open(path->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.valid()) {
      struct stat info {};
      if (::fstat(fd.get(), &info) != 0)
        throw UnreadableMessage(path->string(), std::strerror(errno));
      if (!S_ISREG(info.st_mode)) throw UnreadableMessage(path->string(), "not a regular file");
      return fd;
    }
    if (errno != ENOENT) throw UnreadableMessage(path->string(), std::strerror(errno));
    path = Locate(std::string(UniqueView(entry.name)));
  }
  return UniqueFd();
}

void MaildirStore::QueueReadMark(std::size_t index) { queued_.push_back(At(index)); }

void MaildirStore::DropReadMark(std::size_t index) {
  const std::string_view unique = UniqueView(At(index).name);
  std::erase_if(queued_, [unique](const Entry& entry) { return UniqueView(entry.name) == unique; });
}

void MaildirStore::CommitReadMarks() {
  for (const Entry& entry : queued_) MarkRead(entry);
  queued_.clear();
  SyncFolder(folder_ / "cur");
  SyncFolder(folder_ / "new");
}

// Renames x/NAME to cur/NAME marked seen. The listed name is tried first;
// when another client renamed the file meanwhile it is looked up again by its
// unique part, and a message that is gone is left alone. A file system that
// refuses ':' in names gets '!' instead.
void MaildirStore::MarkRead(const Entry& entry) {
  const std::string unique(UniqueView(entry.name));
  std::optional<fs::path> from = PathOf(entry);
  for (int attempt = 0; from && attempt < kRenameAttempts; ++attempt) {
    const std::string name = from->filename().string();
    const fs::path to = folder_ / "cur" / SeenName(name, separator_);
    if (*from == to) return;
    const int error = RenameWithoutReplacing(*from, to);
    // Taken: the same message is there marked seen already (two files of one
    // message, as sync tools leave them). Neither file is given up.
    if (error == 0 || error == EEXIST) return;
    if (RefusedColon(error, name, *from)) {
      separator_ = '!';
      continue;
    }
    if (error != ENOENT) throw MailFailure("cannot mark as read", *from, error);
    from = Locate(unique);
  }
}

// True when renaming `from` (named `name`, without info) failed only because
// the new name has a ':': the file is still there.
bool MaildirStore::RefusedColon(int error, const std::string& name, const fs::path& from) const {
  if (separator_ != ':' || SplitMaildirName(name).separator != 0) return false;
  if (error != EINVAL && error != ENOENT) return false;
  struct stat info {};
  return ::stat(from.c_str(), &info) == 0;
}

std::optional<std::filesystem::path> MaildirStore::Locate(const std::string& unique) const {
  for (const char* sub : {"cur", "new"}) {
    std::error_code error;
    for (fs::directory_iterator it(folder_ / sub, error), end; !error && it != end;
         it.increment(error)) {
      if (UniqueView(it->path().filename().string()) == unique) return it->path();
    }
    if (error) throw MailFailure("cannot list", folder_ / sub, error.value());
  }
  return std::nullopt;
}

}  // namespace qm
