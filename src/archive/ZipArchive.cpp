#include "archive/ZipArchive.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "archive/ArchiveFailure.h"
#include "archive/EntryCopy.h"
#include "archive/ZipEntryName.h"
#include "base/UniqueFd.h"
#include "base/WriteAll.h"

namespace qm {
namespace {

[[noreturn]] void ThrowDamaged(const std::string& what) {
  throw ArchiveFailure(ArchiveProblem::kDamaged, "not a readable ZIP archive: " + what);
}

std::string OpenErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// libzip opens a duplicate and closes it with the archive; the caller keeps `fd`.
zip_t* OpenDuplicate(int fd) {
  UniqueFd duplicate(::dup(fd));
  if (!duplicate.valid()) throw FileFailure(FailureKind::Unreadable, errno, "opening the archive");
  int code = 0;
  zip_t* archive = zip_fdopen(duplicate.get(), ZIP_RDONLY, &code);
  if (archive == nullptr) ThrowDamaged(OpenErrorText(code));
  duplicate.Release();
  return archive;
}

// The name as libzip holds it: the stored bytes, or already the text of a
// Unicode Path field whose CRC matches them (libzip applies that field
// itself and hides it). The strict reading, CP437 unless the name is marked
// UTF-8 (or plain ASCII), differs from the bytes exactly when the name is not
// marked UTF-8.
RawZipName RawNameOf(zip_t* archive, zip_uint64_t index) {
  const char* raw = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
  const char* strict = zip_get_name(archive, index, ZIP_FL_ENC_STRICT);
  if (raw == nullptr || strict == nullptr) ThrowDamaged(zip_strerror(archive));
  return RawZipName{raw, std::string_view(raw) == strict, std::nullopt};
}

// Judged on the decoded text: in CP932 a last byte 0x5C ('\\') may be the
// second half of a character (ソ, 表).
bool IsFolderName(std::string_view text) {
  return !text.empty() && (text.back() == '/' || text.back() == '\\');
}

ZipEntry EntryAt(zip_t* archive, zip_uint64_t index) {
  zip_stat_t stat;
  if (zip_stat_index(archive, index, 0, &stat) < 0) ThrowDamaged(zip_strerror(archive));
  const std::string text = DecodeZipNameText(RawNameOf(archive, index));
  ZipEntry entry;
  entry.name = SafeRelativePath(text, "file" + std::to_string(index + 1));
  entry.size = stat.size;
  entry.compressed_size = stat.comp_size;
  entry.encrypted = stat.encryption_method != ZIP_EM_NONE;
  entry.folder = IsFolderName(text);
  return entry;
}

}  // namespace

void ZipArchive::Closer::operator()(zip* archive) const { zip_discard(archive); }

ZipArchive::ZipArchive(int fd, const ArchiveLimits& limits) : archive_(OpenDuplicate(fd)) {
  ReadEntries(limits);
}

ZipArchive::~ZipArchive() = default;

void ZipArchive::ReadEntries(const ArchiveLimits& limits) {
  const zip_int64_t count = zip_get_num_entries(archive_.get(), 0);
  if (count < 0) ThrowDamaged(zip_strerror(archive_.get()));
  DeclaredTotals totals;
  totals.entries = static_cast<std::uint64_t>(count);
  CheckTotals(totals, limits);
  entries_.reserve(static_cast<std::size_t>(count));
  for (zip_int64_t index = 0; index < count; ++index) {
    ZipEntry entry = EntryAt(archive_.get(), static_cast<zip_uint64_t>(index));
    CheckDepth(entry.name, limits);
    totals.size += entry.size;
    totals.compressed_size += entry.compressed_size;
    // Checked as the sums grow: a sum past 2^64 would wrap.
    CheckTotals(totals, limits);
    entries_.push_back(std::move(entry));
  }
}

bool ZipArchive::encrypted() const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [](const ZipEntry& entry) { return entry.encrypted; });
}

bool ZipArchive::Accepts(const std::string& password) {
  try {
    for (std::size_t index = 0; index < entries_.size(); ++index) {
      if (entries_[index].encrypted) OpenEntryHeader(archive_.get(), index, password);
    }
    if (const auto index = EntryToVerify()) {
      CopyEntry(archive_.get(), *index, password, [](const char*, std::size_t) {});
    }
  } catch (const ArchiveFailure& failure) {
    if (failure.problem() == ArchiveProblem::kWrongPassword ||
        failure.problem() == ArchiveProblem::kCrcMismatch) {
      return false;
    }
    throw;
  }
  return true;
}

// The smallest non-empty encrypted entry, one whose data can be checked
// when there is one.
std::optional<std::size_t> ZipArchive::EntryToVerify() const {
  std::optional<std::size_t> best;
  bool best_checkable = false;
  for (std::size_t index = 0; index < entries_.size(); ++index) {
    const ZipEntry& entry = entries_[index];
    if (!entry.encrypted || entry.size == 0) continue;
    const bool checkable = DataCheckable(archive_.get(), index);
    const bool better =
        !best || (checkable && !best_checkable) ||
        (checkable == best_checkable && entry.compressed_size < entries_[*best].compressed_size);
    if (better) {
      best = index;
      best_checkable = checkable;
    }
  }
  return best;
}

void ZipArchive::WriteEntry(std::size_t index, int fd, const std::string& password) {
  if (index >= entries_.size()) {
    throw InternalFailure("archive entry " + std::to_string(index) + " does not exist");
  }
  if (entries_[index].folder) return;
  const std::string what = "archive entry " + entries_[index].name;
  CopyEntry(archive_.get(), index, password,
            [fd, &what](const char* data, std::size_t size) { WriteAll(fd, data, size, what); });
}

}  // namespace qm
