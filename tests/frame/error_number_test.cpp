// What each failure says to the user: its error number (the README lists
// them, and scripts depend on them) and which reason the window and stderr
// give. The one table of both; the reason is named by words of its English
// source, and its Japanese is the translation file's (checked by
// translations_up_to_date), not copied here.

#include "frame/ErrorNumber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "frame/ConsoleLanguage.h"
#include "frame/FailureReason.h"
#include "frame/ReportFailure.h"

namespace qm {
namespace {

using K = FailureKind;
using C = Cause;

TEST(ErrorNumber, EachFailureGetsItsNumberAndItsReason) {
  const struct {
    FailureKind kind;
    Cause cause;
    int error;
    int number;
    const char* reason_words;
  } cases[] = {
      {K::Destination, C::kSystem, ENOENT, 76, "destination folder is not set"},
      {K::Destination, C::kSystem, ENOTDIR, 76, "destination folder is not set"},
      {K::Destination, C::kSystem, EROFS, 70, "cannot be written into the destination"},
      {K::Destination, C::kSystem, ENOSPC, 61, "disk of the destination folder is full"},
      {K::Destination, C::kSystem, EIO, 75, "destination folder cannot be used"},
      {K::FileWrite, C::kSystem, ENOSPC, 61, "disk is full, so the attachments"},
      {K::FileWrite, C::kSystem, EDQUOT, 75, "disk is full, so the attachments"},
      {K::FileWrite, C::kSystem, EACCES, 70, "Access was denied"},
      {K::FileWrite, C::kSystem, EPERM, 70, "Access was denied"},
      {K::FileWrite, C::kSystem, EROFS, 70, "Access was denied"},
      {K::FileWrite, C::kSystem, ENOENT, 76, "moved or removed while files were saved"},
      {K::FileWrite, C::kSystem, ENOTDIR, 76, "moved or removed while files were saved"},
      {K::FileWrite, C::kSystem, EIO, 75, "could not be saved. Check the disk"},
      {K::FileWrite, C::kSystem, EISDIR, 75, "could not be saved. Check the disk"},
      {K::FileWrite, C::kSystem, EEXIST, 75, "could not be saved. Check the disk"},
      {K::MailStore, C::kSystem, EIO, 75, "mailbox could not be read"},
      {K::Internal, C::kSystem, EMFILE, 75, "internal error"},
      {K::Internal, C::kInternal, 0, 51, "internal error"},
      {K::NoDisplay, C::kNoDisplay, 0, 429, "no display"},
      {K::SignOn, C::kCancelled, 0, 32001, "mailbox settings were cancelled"},
      {K::MailStore, C::kCancelled, 0, 32001, "Receiving was cancelled"},
      {K::MailStore, C::kMailServer, 0, 32002, "failed while mail was received"},
      {K::SignOn, C::kLoginRefused, 0, 32003, "did not accept the user name or password"},
      {K::SignOn, C::kServerUnreachable, 0, 32003, "Cannot connect to the mail server"},
      {K::SignOn, C::kServerNotTrusted, 0, 32003, "could not be confirmed as safe"},
      {K::SignOn, C::kSignInRequired, 0, 32003, "needs a sign-in in the browser"},
      {K::SignOn, C::kSignInRefused, 0, 32003, "no longer accepts the saved sign-in"},
      {K::SignOn, C::kPasswordCommand, 0, 32003, "command that gives the password"},
      {K::Unreadable, C::kUnreadableMessage, 0, 32017, "left unread"},
      {K::Overlap, C::kScanRunning, 0, 55, "already being received"},
      {K::SignOn, C::kNoMailbox, 0, 32023, "No mailbox is set up"},
      {K::SignOn, C::kNoMailProgram, 0, 32023, "new Outlook does not allow"},
      {K::SignOn, C::kMailProgramRefused, 0, 32003, "Check the Outlook profile name"},
      {K::SignOn, C::kMailProgramNeedsPrompt, 0, 32003, "a run without a window cannot answer"},
      {K::SignOn, C::kMailProgramBusy, 0, 32008, "too many sessions"},
  };
  for (const auto& c : cases) {
    const Failure failure(c.kind, c.cause, "x", c.error);
    SCOPED_TRACE(std::string(c.reason_words) + ", errno " + std::to_string(c.error));
    EXPECT_EQ(ErrorNumberOf(failure), c.number);
    EXPECT_THAT(FailureReasonSource(failure), ::testing::HasSubstr(c.reason_words));
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
