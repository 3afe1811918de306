#include "save/ReservationJournal.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <functional>
#include <optional>
#include <utility>

#include "base/Failure.h"
#include "base/WriteAll.h"
#include "save/FolderEntries.h"

namespace qm {
namespace {

constexpr std::string_view kSuffix = "-journal";
constexpr unsigned kFileMode = 0644;  // the process umask applies (POSIX only)
// A run clears its journal after every batch, so that one of ours holds a
// batch's names at most; more than this is not read.
constexpr std::size_t kMaxJournalBytes = 4 * 1024 * 1024;
constexpr std::size_t kMaxEntryBytes = 8 * 1024;
constexpr std::size_t kChunk = 64 * 1024;
constexpr char kReserved = '+';
constexpr char kReservedFolder = '/';
constexpr char kNotOurs = '-';  // the name turned out to be taken by someone else

// A journal that this user's run left: a regular file of `owner`. Invalid
// for anything else, which is never read as instructions.
UniqueFd OpenOwnJournal(int dir, const std::string& name, const fs::OwnerId& owner) {
  UniqueFd fd(fs::OpenForReading(dir, name));
  fs::EntryInfo info;
  if (!fd.valid() || fs::InfoOf(fd.get(), info) != 0 || info.owner != owner) return UniqueFd();
  return fd;
}

// One entry "<mark><length> <name>\n" at the start of `text`: a length, so
// that any name reads back exactly. Nothing when `text` does not start with
// a whole entry.
struct Entry {
  char mark;
  std::string name;
  std::size_t size;  // of the whole entry
};
std::optional<Entry> EntryAt(std::string_view text) {
  if (text.size() < 3) return std::nullopt;
  std::size_t length = 0;
  const auto [end, error] = std::from_chars(text.data() + 1, text.data() + text.size(), length);
  const std::size_t name_at = static_cast<std::size_t>(end - text.data()) + 1;
  if (error != std::errc() || name_at > text.size() || *end != ' ' ||
      length > text.size() - name_at || name_at + length >= text.size() ||
      text[name_at + length] != '\n') {
    return std::nullopt;
  }
  return Entry{text[0], std::string(text.substr(name_at, length)), name_at + length + 1};
}

struct Reservation {
  std::string name;
  bool folder = false;
};

// Calls `pending` with each name the journal reserved and did not give up
// (a "-" entry follows its "+" or "/" entry at once). The journal is read in
// pieces, never whole; what a killed run wrote last may stop in the middle,
// and a damaged entry ends the reading.
void ForEachPendingReservation(int journal,
                               const std::function<void(const Reservation&)>& pending) {
  std::string text;
  Reservation reserved;  // the last "+" or "/" entry, until the next entry ("" for none)
  std::array<char, kChunk> buffer;
  for (std::size_t read_so_far = 0; read_so_far < kMaxJournalBytes;) {
    const ssize_t got = ::read(journal, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    read_so_far += static_cast<std::size_t>(got);
    text.append(buffer.data(), static_cast<std::size_t>(got));
    std::size_t used = 0;
    while (const std::optional<Entry> entry = EntryAt(std::string_view(text).substr(used))) {
      used += entry->size;
      if (entry->mark == kNotOurs && reserved.name == entry->name) {
        reserved = {};
        continue;
      }
      if (!reserved.name.empty()) pending(reserved);
      reserved = {};
      if (entry->mark == kReserved || entry->mark == kReservedFolder) {
        reserved = {entry->name, entry->mark == kReservedFolder};
      } else if (entry->mark != kNotOurs) {
        return;
      }
    }
    text.erase(0, used);
    if (text.size() > kMaxEntryBytes) break;  // no entry is that long: damaged
  }
  if (!reserved.name.empty()) pending(reserved);
}

// A name the journal may speak of: one entry directly in its folder.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// A reservation that never got its file or folder: an empty regular file,
// or an empty folder for a folder's reservation, of `owner`.
void RemoveIfEmpty(int dir, const Reservation& reserved, const fs::OwnerId& owner) {
  fs::EntryInfo info;
  const std::string& name = reserved.name;
  if (!IsPlainName(name) || fs::InfoOfEntry(dir, name, info) != 0 || info.owner != owner) return;
  if (!reserved.folder && info.kind == fs::EntryKind::kRegular && info.size == 0) {
    fs::RemoveFile(dir, name);
  }
  // Removing a folder removes only an empty one.
  if (reserved.folder && info.kind == fs::EntryKind::kFolder) fs::RemoveEmptyFolder(dir, name);
}

// True when the entry `name` of `dir` is the file open as `file` still: what
// was read is what goes, not something put under its name meanwhile.
bool IsEntry(int dir, const std::string& name, const UniqueFd& file) {
  fs::EntryInfo opened;
  fs::EntryInfo entry;
  return fs::InfoOf(file.get(), opened) == 0 && fs::InfoOfEntry(dir, name, entry) == 0 &&
         opened.identity == entry.identity;
}

bool IsJournalName(std::string_view name) { return name.ends_with(kSuffix); }

}  // namespace

ReservationJournal::ReservationJournal(int dir, std::string name)
    : dir_(dir), name_(std::move(name)) {}

ReservationJournal::~ReservationJournal() {
  if (journal_.valid()) fs::RemoveFile(dir_, name_);
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
  const UniqueFd file(fs::CreateExclusive(dir_, name, kFileMode));
  if (file.valid()) return 0;
  const int error = errno;
  Append(kNotOurs, name);
  return error;
}

int ReservationJournal::ReserveFolder(const std::string& name) {
  Append(kReservedFolder, name);
  if (fs::MakeFolder(dir_, name) == 0) return 0;
  const int error = errno;
  Append(kNotOurs, name);
  return error;
}

void ReservationJournal::Clear() {
  // Written from its start again: the descriptor does not append.
  if (journal_.valid() &&
      (::ftruncate(journal_.get(), 0) != 0 || ::lseek(journal_.get(), 0, SEEK_SET) != 0)) {
    throw FileFailure(FailureKind::FileWrite, errno, "writing " + name_);
  }
}

void ReservationJournal::Append(char mark, const std::string& name) {
  if (!journal_.valid()) {
    // Made afresh: never writing into a file someone else put there.
    journal_.Reset(fs::CreateExclusive(dir_, name_, kFileMode));
    if (!journal_.valid()) throw FileFailure(FailureKind::FileWrite, errno, "creating " + name_);
  }
  const std::string entry = mark + std::to_string(name.size()) + " " + name + "\n";
  WriteAll(journal_.get(), entry.data(), entry.size(), name_);
}

void ReservationJournal::RemoveAbandoned(int dir, const RunNames& runs, const fs::OwnerId& owner) {
  for (const std::string& journal : FolderEntries(dir)) {
    if (!IsJournalName(journal) || !runs.MadeByEndedRun(journal)) continue;
    const UniqueFd file = OpenOwnJournal(dir, journal, owner);
    if (!file.valid()) continue;
    ForEachPendingReservation(
        file.get(), [&](const Reservation& reserved) { RemoveIfEmpty(dir, reserved, owner); });
    if (IsEntry(dir, journal, file)) fs::RemoveFile(dir, journal);
  }
}

}  // namespace qm
