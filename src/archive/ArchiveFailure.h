#pragma once
// Why an archive could not be read or unpacked, for a caller that reacts to
// each differently: ask for another password, keep the archive as it is,
// remove a partly written file. A failed write is not one of these: it is a
// FileFailure(FileWrite) with its errno, as for any other file.

#include <string>

#include "base/Failure.h"

namespace qm {

enum class ArchiveProblem {
  kDamaged,        // not a ZIP archive, or damaged; or a method this library cannot read
  kWrongPassword,  // no password, or a password that does not open the entry
  kOverLimit,      // beyond ArchiveLimits: too many entries, too large, too deep, a bomb
  kCrcMismatch,    // the entry's data does not match its CRC-32 or authentication code
};

// An ArchiveFailure is an Unreadable failure: the archive stays as it came.
class ArchiveFailure : public Failure {
 public:
  ArchiveFailure(ArchiveProblem problem, const std::string& description);
  ArchiveProblem problem() const { return problem_; }

 private:
  ArchiveProblem problem_;
};

}  // namespace qm
