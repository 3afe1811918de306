#include "frame/ErrorNumber.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "frame/ConsoleLanguage.h"
#include "frame/ReportFailure.h"

namespace qm {
namespace {

// The numbers are the ones the README documents: scripts depend on them.
TEST(ErrorNumber, EachFailureGetsItsDocumentedNumber) {
  const struct {
    Cause cause;
    int error;
    int number;
  } cases[] = {
      {Cause::kSystem, ENOSPC, 61},
      {Cause::kSystem, EACCES, 70},
      {Cause::kSystem, EPERM, 70},
      {Cause::kSystem, EROFS, 70},
      {Cause::kSystem, ENOENT, 76},
      {Cause::kSystem, ENOTDIR, 76},
      {Cause::kSystem, EIO, 75},
      {Cause::kSystem, EISDIR, 75},
      {Cause::kSystem, EEXIST, 75},
      {Cause::kInternal, 0, 51},
      {Cause::kNoDisplay, 0, 429},
      {Cause::kCancelled, 0, 32001},
      {Cause::kMailServer, 0, 32002},
      {Cause::kLoginRefused, 0, 32003},
      {Cause::kServerUnreachable, 0, 32003},
      {Cause::kServerNotTrusted, 0, 32003},
      {Cause::kSignInRequired, 0, 32003},
      {Cause::kSignInRefused, 0, 32003},
      {Cause::kPasswordCommand, 0, 32003},
      {Cause::kUnreadableMessage, 0, 32017},
      {Cause::kScanRunning, 0, 55},
      {Cause::kNoMailbox, 0, 32023},
  };
  for (const auto& c : cases) {
    const Failure failure(FailureKind::FileWrite, c.cause, "x", c.error);
    EXPECT_EQ(ErrorNumberOf(failure), c.number) << static_cast<int>(c.cause) << " " << c.error;
  }
}

TEST(ErrorNumber, FileFailuresCarryTheErrnoAndItsText) {
  const Failure failure = FileFailure(FailureKind::FileWrite, ENOSPC, "copy a.pdf");
  EXPECT_EQ(failure.kind(), FailureKind::FileWrite);
  EXPECT_EQ(std::string(failure.what()), "copy a.pdf: " + std::string(std::strerror(ENOSPC)));
  EXPECT_EQ(FailureLine(failure, ConsoleLanguage(false)),
            "quillmar: error 61: copy a.pdf: " + std::string(std::strerror(ENOSPC)));
}

}  // namespace
}  // namespace qm
