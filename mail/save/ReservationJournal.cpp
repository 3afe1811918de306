#include "mail/save/ReservationJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <set>
#include <utility>

#include "frame/settings/Failure.h"
#include "frame/settings/WriteAll.h"
#include "mail/save/FolderEntries.h"

namespace qm {
namespace {

constexpr std::string_view kSuffix = "-journal";
constexpr mode_t kFileMode = 0644;  // the process umask is applied by open()
constexpr std::size_t kMaxJournalBytes = 16 * 1024 * 1024;
constexpr char kReserved = '+';
constexpr char kNotOurs = '-';  // the name turned out to be taken by someone else

// A journal that this user's run left: a regular file of `owner`. Invalid
// for anything else, which is never read as instructions.
UniqueFd OpenOwnJournal(int dir, const std::string& name, uid_t owner) {
  UniqueFd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_uid != owner) {
    return UniqueFd();
  }
  return fd;
}

// The whole journal; what a killed run wrote last may stop in the middle.
std::string ReadJournal(const UniqueFd& fd) {
  std::string text;
  char buffer[4096];
  while (fd.valid() && text.size() < kMaxJournalBytes) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

// Entries are "<mark><length> <name>\n": a length, so that any name reads back
// exactly. Returns the names reserved and not given up; a damaged tail ends it.
std::set<std::string> PendingReservations(std::string_view text) {
  std::set<std::string> pending;
  while (text.size() > 2) {
    const char mark = text[0];
    std::size_t length = 0;
    const auto [end, error] = std::from_chars(text.data() + 1, text.data() + text.size(), length);
    const std::size_t name_at = static_cast<std::size_t>(end - text.data()) + 1;
    if (error != std::errc() || name_at > text.size() || *end != ' ' ||
        length > text.size() - name_at || name_at + length >= text.size() ||
        text[name_at + length] != '\n') {
      break;
    }
    const std::string name(text.substr(name_at, length));
    if (mark == kReserved) pending.insert(name);
    if (mark == kNotOurs) pending.erase(name);
    text.remove_prefix(name_at + length + 1);
  }
  return pending;
}

// A name the journal may speak of: one entry directly in its folder.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// A reservation that never got its file: an empty regular file of `owner`.
void RemoveIfEmpty(int dir, const std::string& name, uid_t owner) {
  struct stat info {};
  if (IsPlainName(name) && ::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(info.st_mode) && info.st_size == 0 && info.st_uid == owner) {
    ::unlinkat(dir, name.c_str(), 0);
  }
}

bool IsJournalName(std::string_view name) { return name.ends_with(kSuffix); }

}  // namespace

ReservationJournal::ReservationJournal(int dir, std::string name)
    : dir_(dir), name_(std::move(name)) {}

ReservationJournal::~ReservationJournal() {
  if (journal_.valid()) ::unlinkat(dir_, name_.c_str(), 0);
}

std::string ReservationJournal::NameFor(const RunNames& run) {
  return run.Prefix() + std::string(kSuffix.substr(1));
}

// Written down before the file exists: a run killed in between leaves a
// journal entry for a file that is not there, never a file nobody knows of.
// A kill does not lose what was written; only a crash of the whole system
// could, and then more than this is at stake.
int ReservationJournal::Reserve(const std::string& name) {
  Append(kReserved, name);
  const UniqueFd file(::openat(dir_, name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
  if (file.valid()) return 0;
  const int error = errno;
  Append(kNotOurs, name);
  return error;
}

void ReservationJournal::Clear() {
  if (journal_.valid() && ::ftruncate(journal_.get(), 0) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "writing " + name_);
  }
}

void ReservationJournal::Append(char mark, const std::string& name) {
  if (!journal_.valid()) {
    // Made afresh: never writing into a file someone else put there.
    journal_.Reset(::openat(dir_, name_.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC,
                            kFileMode));
    if (!journal_.valid()) throw FileFailure(FailureKind::FileWrite, errno, "creating " + name_);
  }
  const std::string entry = mark + std::to_string(name.size()) + " " + name + "\n";
  WriteAll(journal_.get(), entry.data(), entry.size(), name_);
}

void ReservationJournal::RemoveAbandoned(int dir, const RunNames& runs, uid_t owner) {
  for (const std::string& journal : FolderEntries(dir)) {
    if (!IsJournalName(journal) || !runs.MadeByEndedRun(journal)) continue;
    const UniqueFd file = OpenOwnJournal(dir, journal, owner);
    if (!file.valid()) continue;
    for (const std::string& name : PendingReservations(ReadJournal(file))) {
      RemoveIfEmpty(dir, name, owner);
    }
    ::unlinkat(dir, journal.c_str(), 0);
  }
}

}  // namespace qm
