#include "frame/ErrorNumber.h"

#include <cerrno>

namespace qm {
namespace {

constexpr int kInternal = 51;            // internal error
constexpr int kFileAlreadyOpen = 55;     // file already open: another scan holds the lock
constexpr int kDiskFull = 61;            // disk full
constexpr int kPermissionDenied = 70;    // permission denied
constexpr int kFileAccess = 75;          // path/file access error
constexpr int kPathNotFound = 76;        // path not found
constexpr int kNoDisplay = 429;          // cannot create the window
constexpr int kUserCancelled = 32001;    // sign-on cancelled by the user
constexpr int kMailFailure = 32002;      // unspecified mail failure
constexpr int kLoginFailed = 32003;      // sign-on failed
constexpr int kTooManySessions = 32008;  // too many sessions
constexpr int kInvalidMessage = 32017;   // a message could not be read
constexpr int kNoMailbox = 32023;        // no mailbox configured

int NumberOfErrno(int error) {
  switch (error) {
    case ENOSPC:
      return kDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return kPermissionDenied;
    case ENOENT:
    case ENOTDIR:
      return kPathNotFound;
    default:
      return kFileAccess;
  }
}

}  // namespace

int ErrorNumberOf(const Failure& failure) {
  switch (failure.cause()) {
    case Cause::kSystem:
      return NumberOfErrno(failure.error());
    case Cause::kNoDisplay:
      return kNoDisplay;
    case Cause::kCancelled:
      return kUserCancelled;
    case Cause::kLoginRefused:
    case Cause::kServerUnreachable:
    case Cause::kServerNotTrusted:
    case Cause::kSignInRequired:
    case Cause::kSignInRefused:
    case Cause::kPasswordCommand:
    case Cause::kMailProgramRefused:
    case Cause::kMailProgramNeedsPrompt:
      return kLoginFailed;
    case Cause::kMailProgramBusy:
      return kTooManySessions;
    case Cause::kNoMailbox:
    case Cause::kNoMailProgram:
      return kNoMailbox;
    case Cause::kMailServer:
    case Cause::kServerThrottled:
      return kMailFailure;
    case Cause::kAccessNotGranted:
      return kLoginFailed;
    case Cause::kMailboxNotFound:
      return kNoMailbox;
    case Cause::kUnreadableMessage:
      return kInvalidMessage;
    case Cause::kScanRunning:
      return kFileAlreadyOpen;
    case Cause::kInternal:
      break;
  }
  return kInternal;
}

}  // namespace qm
