#include "save/NoReplacePlacement.h"

#include <cerrno>
#include <utility>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/UniqueFd.h"

namespace qm {
namespace {

using Method = NoReplacePlacement::Method;

constexpr unsigned kProbeMode = 0600;

// The errors of a file system that does not offer the operation at all, as
// opposed to one refusing this particular call.
bool NotOffered(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM ||
         error == EMLINK || error == EXDEV;
}

// 0 when `result` tells success, else the errno value of the failure.
int ErrorOf(int result) { return result == 0 ? 0 : errno; }

// Native on Windows (a rename that is told not to replace), renameat2 on
// Linux: the probe picks it there.
int RenameRefusingToReplace(int from_dir, const std::string& from, int dir, const std::string& to) {
  return ErrorOf(fs::RenameNoReplace(from_dir, from, dir, to));
}

int LinkThenUnlink(int from_dir, const std::string& from, int dir, const std::string& to) {
  if (const int error = ErrorOf(fs::HardLink(from_dir, from, dir, to)); error != 0) return error;
  fs::RemoveFile(from_dir, from);
  return 0;
}

int RenameOverReservation(int from_dir, const std::string& from, int dir,
                          ReservationJournal& journal, const std::string& to) {
  if (const int error = journal.Reserve(to); error != 0) return error;
  if (fs::RenameReplacing(from_dir, from, dir, to) == 0) return 0;
  const int error = errno;
  fs::RemoveFile(dir, to);  // the reservation, still empty
  return error;
}

// Probe files of the folder, removed whatever the probe finds.
class ProbeFiles {
 public:
  ProbeFiles(int dir, std::string source, std::string target)
      : dir_(dir), source_(std::move(source)), target_(std::move(target)) {}
  ~ProbeFiles() {
    fs::RemoveFile(dir_, source_);
    fs::RemoveFile(dir_, target_);
  }
  ProbeFiles(const ProbeFiles&) = delete;
  ProbeFiles& operator=(const ProbeFiles&) = delete;

  const std::string& source() const { return source_; }
  const std::string& target() const { return target_; }

  // Removes the target again, so that the next way starts from the same state.
  void Reset() { fs::RemoveFile(dir_, target_); }

 private:
  int dir_;
  std::string source_;
  std::string target_;
};

Failure NoWayToPlace(const std::string& path, int error) {
  return FileFailure(FailureKind::Destination, error,
                     "files cannot be saved in " + path +
                         " without risk of replacing others (neither a rename, a link nor a "
                         "replacing rename works there)");
}

}  // namespace

NoReplacePlacement::NoReplacePlacement(int dir, const std::string& path,
                                       const std::function<std::string()>& new_hidden_name,
                                       std::string journal_name)
    : dir_(dir), journal_name_(std::move(journal_name)) {
  ProbeFiles probe(dir, new_hidden_name(), new_hidden_name());
  const UniqueFd created(fs::CreateExclusive(dir, probe.source(), kProbeMode));
  if (!created.valid()) throw NoWayToPlace(path, errno);

  int error = RenameRefusingToReplace(dir, probe.source(), dir, probe.target());
  if (error == 0) return;
  if (!NotOffered(error)) throw NoWayToPlace(path, error);

  error = ErrorOf(fs::HardLink(dir, probe.source(), dir, probe.target()));
  if (error == 0) {
    method_ = Method::kHardLink;
    return;
  }
  if (!NotOffered(error)) throw NoWayToPlace(path, error);
  probe.Reset();

  method_ = Method::kReservation;
  journal_ = std::make_unique<ReservationJournal>(dir, journal_name_);
  error = RenameOverReservation(dir, probe.source(), dir, *journal_, probe.target());
  journal_->Clear();
  if (error != 0) throw NoWayToPlace(path, error);
}

int NoReplacePlacement::Rename(int from_dir, const std::string& from, const std::string& to) {
  switch (method_) {
    case Method::kRenameNoReplace:
      return RenameRefusingToReplace(from_dir, from, dir_, to);
    case Method::kHardLink:
      return LinkThenUnlink(from_dir, from, dir_, to);
    case Method::kReservation:
      return RenameOverReservation(from_dir, from, dir_, *journal_, to);
  }
  return EINVAL;
}

int NoReplacePlacement::RenameFolder(int from_dir, const std::string& from, const std::string& to) {
  if (method_ == Method::kRenameNoReplace) return RenameRefusingToReplace(from_dir, from, dir_, to);
  if (const int error = Journal().ReserveFolder(to); error != 0) return error;
  if (fs::RenameReplacing(from_dir, from, dir_, to) == 0) return 0;
  const int error = errno;
  fs::RemoveEmptyFolder(dir_, to);  // the reservation, still empty
  return error;
}

ReservationJournal& NoReplacePlacement::Journal() {
  if (!journal_) journal_ = std::make_unique<ReservationJournal>(dir_, journal_name_);
  return *journal_;
}

void NoReplacePlacement::Settled() {
  if (journal_) journal_->Clear();
}

}  // namespace qm
