#include "archive/ArchiveFailure.h"

namespace qm {

ArchiveFailure::ArchiveFailure(ArchiveProblem problem, const std::string& description)
    : Failure(FailureKind::Unreadable, Cause::kUnreadableMessage, description), problem_(problem) {}

}  // namespace qm
