#include "archive/LibzipError.h"

#include <zip.h>

namespace qm {
namespace {

ArchiveProblem ProblemOf(int code) {
  switch (code) {
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_NOPASSWD:
      return ArchiveProblem::kWrongPassword;
    case ZIP_ER_CRC:
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
      return ArchiveProblem::kCrcMismatch;
    default:
      return ArchiveProblem::kDamaged;
  }
}

}  // namespace

std::string EntryLabel(std::uint64_t index) { return "archive entry " + std::to_string(index); }

void ThrowEntryError(zip_error* error, std::uint64_t index) {
  ThrowEntryProblem(ProblemOf(zip_error_code_zip(error)), index, zip_error_strerror(error));
}

void ThrowEntryProblem(ArchiveProblem problem, std::uint64_t index, const std::string& what) {
  throw ArchiveFailure(problem, EntryLabel(index) + ": " + what);
}

}  // namespace qm
