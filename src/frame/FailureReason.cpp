#include "frame/FailureReason.h"

#include <QtGlobal>
#include <cerrno>

namespace qm {
namespace {

enum class ErrnoClass { kDiskFull, kNoAccess, kMissing, kOther };

ErrnoClass ClassOf(int error) {
  switch (error) {
    case ENOSPC:
#ifdef EDQUOT  // a quota's own error, where the system has one (Windows: ENOSPC)
    case EDQUOT:
#endif
      return ErrnoClass::kDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return ErrnoClass::kNoAccess;
    case ENOENT:
    case ENOTDIR:
      return ErrnoClass::kMissing;
    default:
      return ErrnoClass::kOther;
  }
}

// Checked before the scan touches anything.
const char* DestinationReason(int error) {
  switch (ClassOf(error)) {
    case ErrnoClass::kDiskFull:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The disk of the destination folder is full. Free some space and try again.");
    case ErrnoClass::kNoAccess:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "Files cannot be written into the destination folder. Choose a folder you may write "
          "into.");
    case ErrnoClass::kMissing:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The destination folder is not set or does not exist. Choose an existing folder for "
          "the saved files.");
    case ErrnoClass::kOther:
      break;
  }
  return QT_TRANSLATE_NOOP(
      "qm::FailureReason",
      "The destination folder cannot be used. Check the folder and try again.");
}

// While the scan saves attachments.
const char* FileWriteReason(int error) {
  switch (ClassOf(error)) {
    case ErrnoClass::kDiskFull:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The disk is full, so the attachments could not be saved. Free some space and try "
          "again.");
    case ErrnoClass::kNoAccess:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "Access was denied, so the attachments could not be saved. Check the permissions of "
          "the destination folder.");
    case ErrnoClass::kMissing:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The destination folder was moved or removed while files were saved. Check the "
          "folder and try again.");
    case ErrnoClass::kOther:
      break;
  }
  return QT_TRANSLATE_NOOP(
      "qm::FailureReason",
      "The attachments could not be saved. Check the disk and the destination folder.");
}

const char* SystemReason(const Failure& failure) {
  switch (failure.kind()) {
    case FailureKind::Destination:
      return DestinationReason(failure.error());
    case FailureKind::FileWrite:
      return FileWriteReason(failure.error());
    case FailureKind::MailStore:
    case FailureKind::SignOn:
    case FailureKind::Unreadable:
      return QT_TRANSLATE_NOOP("qm::FailureReason",
                               "The mailbox could not be read. Please try again later.");
    case FailureKind::Internal:
    case FailureKind::NoDisplay:
    case FailureKind::Overlap:
      break;
  }
  return QT_TRANSLATE_NOOP(
      "qm::FailureReason",
      "An internal error occurred in the program. Please tell your administrator, with the "
      "details.");
}

const char* CancelledReason(const Failure& failure) {
  if (failure.kind() == FailureKind::SignOn) {
    return QT_TRANSLATE_NOOP("qm::FailureReason",
                             "The mailbox settings were cancelled, so no mail was received.");
  }
  return QT_TRANSLATE_NOOP("qm::FailureReason", "Receiving was cancelled.");
}

}  // namespace

const char* FailureReasonSource(const Failure& failure) {
  switch (failure.cause()) {
    case Cause::kSystem:
      return SystemReason(failure);
    case Cause::kNoDisplay:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "There is no display to show the window on. To receive without a window, start the "
          "program with -a.");
    case Cause::kCancelled:
      return CancelledReason(failure);
    case Cause::kLoginRefused:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The mail server did not accept the user name or password. Check them and try again.");
    case Cause::kServerUnreachable:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "Cannot connect to the mail server. Check the server name and port.");
    case Cause::kServerNotTrusted:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The mail server could not be confirmed as safe. Check the server name, the encryption "
          "and the CA file.");
    case Cause::kNoMailbox:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "No mailbox is set up, or its settings cannot be used. Check the mailbox settings.");
    case Cause::kMailServer:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The mail server or the mailbox failed while mail was received. Please try again "
          "later.");
    case Cause::kUnreadableMessage:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "Some messages could not be read. They were left unread and will be tried again next "
          "time.");
    case Cause::kSignInRequired:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "This mailbox needs a sign-in in the browser. Start the program on a desktop and sign "
          "in.");
    case Cause::kSignInRefused:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The mail service no longer accepts the saved sign-in. Please sign in again.");
    case Cause::kPasswordCommand:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The command that gives the password failed or took too long. Check the password "
          "command in the settings.");
    case Cause::kScanRunning:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "Mail is already being received with the same settings (in another window or by a "
          "scheduled run). This run did not start; try again once that one has ended.");
    case Cause::kNoMailProgram:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "No mail program on this PC lets other programs read its mail. Make classic Outlook "
          "the default mail program (the new Outlook does not allow this), or choose an IMAP "
          "mailbox in the mailbox settings.");
    case Cause::kMailProgramRefused:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "Outlook did not sign on. Check the Outlook profile name, and that Outlook starts and "
          "receives mail by itself.");
    case Cause::kMailProgramNeedsPrompt:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "Outlook asks for a sign-on, which a run without a window cannot answer. Start Outlook "
          "before the scheduled run, or click GET! once.");
    case Cause::kMailProgramBusy:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "Outlook has too many sessions open. Restart Outlook and try again.");
    case Cause::kServerThrottled:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The mail server is busy and asked to wait longer than a scan can. Please try again "
          "later.");
    case Cause::kAccessNotGranted:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "This program has not been allowed to read the mailbox. Ask your administrator to "
          "grant the program's permissions (consent) for your organization, then sign in again.");
    case Cause::kMailboxNotFound:
      return QT_TRANSLATE_NOOP(
          "qm::FailureReason",
          "The mailbox was not found. Check the mailbox address in the mailbox settings.");
    case Cause::kInternal:
      break;
  }
  return QT_TRANSLATE_NOOP(
      "qm::FailureReason",
      "An internal error occurred in the program. Please tell your administrator, with the "
      "details.");
}

}  // namespace qm
