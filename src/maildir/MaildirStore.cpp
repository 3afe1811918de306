#include "maildir/MaildirStore.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>
#include <tuple>
#include <vector>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "maildir/MaildirName.h"
#include "maildir/MaildirSeparator.h"
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
                 what + " " + qm::fs::NameOf(file) + ": " + std::strerror(error));
}

std::string_view UniqueView(std::string_view name) { return SplitMaildirName(name).unique; }

// A path from a UTF-8 name, whatever the platform's narrow encoding.
fs::path PathOfName(const std::string& name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

// The delivery time of a message: the seconds at the start of its name, or the
// file's modification time for a name that does not start with a number.
std::int64_t DeliveryTime(const std::string& name, const fs::path& file) {
  std::int64_t seconds = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), seconds);
  if (end != name.data() && error == std::errc()) return seconds;
  if (error == std::errc::result_out_of_range) return std::numeric_limits<std::int64_t>::max();
  std::error_code gone;
  const fs::file_time_type modified = fs::last_write_time(file, gone);
  if (gone) return 0;  // gone meanwhile: sorts first, skipped later
  const auto since_epoch = std::chrono::file_clock::to_sys(modified).time_since_epoch();
  return std::chrono::floor<std::chrono::seconds>(since_epoch).count();
}

// True for a regular file, or a link to one: a message may be kept elsewhere
// and linked in.
bool IsMessageFile(int folder, const std::string& name) {
  qm::fs::EntryInfo info;
  if (qm::fs::InfoOfEntry(folder, name, info) != 0) return false;
  if (info.kind == qm::fs::EntryKind::kRegular) return true;
  if (info.kind != qm::fs::EntryKind::kLink) return false;
  // Opening never waits and refuses what is no regular file.
  return UniqueFd(qm::fs::OpenForReading(folder, name, qm::fs::FinalLink::kFollow)).valid();
}

// Reads from the start of the file up to the end of the header block (the first
// empty line), at most kHeaderLimit bytes.
std::string ReadHeaderBlock(int fd, const std::string& where) {
  std::string block;
  char chunk[kReadChunk];
  while (block.size() < kHeaderLimit) {
    const ssize_t got = ::read(fd, chunk, std::min(sizeof chunk, kHeaderLimit - block.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw UnreadableMessage(where, std::strerror(errno));
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
int RenameWithoutReplacing(int from_folder, const std::string& from, int to_folder,
                           const std::string& to) {
  if (qm::fs::RenameNoReplace(from_folder, from, to_folder, to) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  qm::fs::EntryInfo info;
  if (qm::fs::InfoOfEntry(to_folder, to, info) == 0) return EEXIST;
  return qm::fs::RenameReplacing(from_folder, from, to_folder, to) == 0 ? 0 : errno;
}

UniqueFd OpenMaildirFolder(const fs::path& maildir, const char* sub) {
  UniqueFd held(qm::fs::OpenFolder(qm::fs::kNoFolder, qm::fs::NameOf(maildir / sub)));
  if (!held.valid()) {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "not a Maildir (it needs the folders cur and new): " + qm::fs::NameOf(maildir));
  }
  return held;
}

}  // namespace

MaildirStore::MaildirStore(std::filesystem::path folder)
    : folder_(std::move(folder)),
      cur_(OpenMaildirFolder(folder_, "cur")),
      new_(OpenMaildirFolder(folder_, "new")) {}

void MaildirStore::ListInto(bool in_new, std::vector<Entry>& found) const {
  const int held = in_new ? new_.get() : cur_.get();
  std::vector<std::string> names;
  if (qm::fs::ListFolder(held, names) != 0) {
    throw MailFailure("cannot list", folder_ / (in_new ? "new" : "cur"), errno);
  }
  for (std::string& name : names) {
    if (name.empty() || name[0] == '.') continue;
    // A folder, a socket or a dangling link is no message; it must not
    // stop the scan of the messages beside it.
    if (!IsMessageFile(held, name)) continue;
    Entry entry{std::move(name), 0, in_new};
    entry.time = DeliveryTime(entry.name, PathOf(entry));
    found.push_back(std::move(entry));
  }
}

std::size_t MaildirStore::List() {
  std::vector<Entry> found;
  ListInto(false, found);
  ListInto(true, found);
  int colon_names = 0, bang_names = 0;
  for (const Entry& entry : found) {
    const char separator = SplitMaildirName(entry.name).separator;
    colon_names += separator == ':';
    bang_names += separator == '!';
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
  return folder_ / (entry.in_new ? "new" : "cur") / PathOfName(entry.name);
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

std::string MaildirStore::Describe(std::size_t index) const {
  return qm::fs::NameOf(PathOf(At(index)));
}

RawHeaders MaildirStore::Headers(std::size_t index) {
  const UniqueFd fd = OpenMessage(index, -1);
  if (!fd.valid()) return {};  // deleted meanwhile: nothing to match on
  return ParseHeaderBlock(ReadHeaderBlock(fd.get(), Describe(index)));
}

// A message renamed by another client meanwhile is found again by its unique
// part; one that is gone gives an invalid descriptor. Opened without waiting,
// so that something put in its place that is not a file cannot hang the scan.
UniqueFd MaildirStore::OpenMessage(std::size_t index, int /*spool_folder*/) {
  const Entry& entry = At(index);
  std::optional<Entry> place = entry;
  for (int attempt = 0; place && attempt < kRenameAttempts; ++attempt) {
    UniqueFd fd(
        qm::fs::OpenForReading(HeldFolderOf(*place), place->name, qm::fs::FinalLink::kFollow));
    if (fd.valid()) return fd;
    const int error = errno;
    const std::string where = qm::fs::NameOf(PathOf(*place));
    if (error == EISDIR || error == ENXIO) throw UnreadableMessage(where, "not a regular file");
    if (error != ENOENT) throw UnreadableMessage(where, std::strerror(error));
    place = Locate(std::string(UniqueView(entry.name)));
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
  for (const bool in_new : {false, true}) {
    if (qm::fs::FlushFolder(in_new ? new_.get() : cur_.get()) != 0) {
      throw MailFailure("cannot sync", folder_ / (in_new ? "new" : "cur"), errno);
    }
  }
}

// Renames x/NAME to cur/NAME marked seen, never replacing a file. The listed
// name is tried first; when another client renamed the file meanwhile it is
// looked up again by its unique part, and a message that is gone is left
// alone. A file system that refuses ':' in names gets '!' instead.
void MaildirStore::MarkRead(const Entry& entry) {
  const std::string unique(UniqueView(entry.name));
  std::optional<Entry> from = entry;
  for (int attempt = 0; from && attempt < kRenameAttempts; ++attempt) {
    const char separator = SeparatorForSeenName(SplitMaildirName(from->name).separator, separator_);
    const std::string to = SeenNameWithSeparator(from->name, separator);
    if (!from->in_new && from->name == to) return;
    const int error = RenameWithoutReplacing(HeldFolderOf(*from), from->name, cur_.get(), to);
    // Taken: the same message is there marked seen already (two files of one
    // message, as sync tools leave them). Neither file is given up.
    if (error == 0 || error == EEXIST) return;
    if (RefusedColon(error, *from, separator)) {
      separator_ = '!';
      continue;
    }
    if (error != ENOENT) throw MailFailure("cannot mark as read", PathOf(*from), error);
    from = Locate(unique);
  }
}

// True when renaming `from` (a name without info) failed only because the new
// name has a ':': the file is still there.
bool MaildirStore::RefusedColon(int error, const Entry& from, char separator) const {
  if (separator != ':' || SplitMaildirName(from.name).separator != 0) return false;
  if (error != EINVAL && error != ENOENT) return false;
  qm::fs::EntryInfo info;
  return qm::fs::InfoOfEntry(HeldFolderOf(from), from.name, info) == 0;
}

std::optional<MaildirStore::Entry> MaildirStore::Locate(const std::string& unique) const {
  for (const bool in_new : {false, true}) {
    std::vector<std::string> names;
    if (qm::fs::ListFolder(in_new ? new_.get() : cur_.get(), names) != 0) {
      throw MailFailure("cannot list", folder_ / (in_new ? "new" : "cur"), errno);
    }
    for (std::string& name : names) {
      if (UniqueView(name) == unique) return Entry{std::move(name), 0, in_new};
    }
  }
  return std::nullopt;
}

}  // namespace qm
