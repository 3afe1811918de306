#pragma once
// The one exception type of the program. It is thrown where a failure happens
// and caught in one place (frame/ReportFailure), which chooses the error
// number the user sees, shows it and ends the process.

#include <stdexcept>
#include <string>

namespace qm {

// What went wrong, as far as the exit code is concerned. The values are the
// process exit codes documented in the README.
enum class FailureKind : int {
  Internal = 1,     // a fault of the program itself
  NoDisplay = 2,    // started without a display and without "-a"
  Destination = 3,  // destination folder empty, missing or not writable
  SignOn = 4,       // no mailbox configured, or sign-on refused or cancelled
  MailStore = 5,    // the mailbox failed during the scan (read, connection lost)
  FileWrite = 6,    // an attachment could not be written (disk full, no access)
  Unreadable = 7,   // the scan ended, but some messages could not be read (left unread)
  Overlap = 8,      // another scan with the same settings was running: this one did not start
};

// What happened, more precisely than the kind tells.
enum class Cause {
  kInternal,            // a fault of the program itself
  kSystem,              // an operation of the system failed: error() is its errno
  kNoDisplay,           // there is no display to show the window on
  kCancelled,           // the user cancelled the sign-on
  kLoginRefused,        // the server refused the user name or password
  kServerUnreachable,   // the server could not be reached or did not answer in time
  kServerNotTrusted,    // the server's certificate or encryption could not be trusted
  kNoMailbox,           // no mailbox is configured, or its settings are unusable
  kMailServer,          // the server refused a command, broke off or sent nonsense
  kUnreadableMessage,   // messages could not be read (a server's words or an errno)
  kSignInRequired,      // the mailbox needs a sign-in in the browser, and no window can show one
  kSignInRefused,       // the provider refused the kept sign-in (revoked, expired): sign in again
  kPasswordCommand,     // the command that gives the password failed or took too long
  kScanRunning,         // another scan with the same settings holds the scan lock
  kNoMailProgram,       // no mail program on this PC lets the program read its inbox (Outlook's)
  kMailProgramRefused,  // the mail program refused the sign-on (no such profile, failed)
  kMailProgramNeedsPrompt,  // the mail program asks for a sign-on window no one may answer
  kMailProgramBusy,         // the mail program has too many sessions open
  kServerThrottled,         // the server asked to wait longer than a scan can
  kAccessNotGranted,        // the mailbox's owner or administrator has not let the program read it
  kMailboxNotFound,         // the named mailbox does not exist or cannot be reached this way
};

class Failure : public std::runtime_error {
 public:
  // `error` is the errno value of a kSystem failure, 0 otherwise.
  Failure(FailureKind kind, Cause cause, const std::string& description, int error = 0)
      : std::runtime_error(description), kind_(kind), cause_(cause), error_(error) {}

  FailureKind kind() const { return kind_; }
  Cause cause() const { return cause_; }
  int error() const { return error_; }
  int ExitCode() const { return static_cast<int>(kind_); }

 private:
  FailureKind kind_;
  Cause cause_;
  int error_;
};

// A failed operation of the system: "<what>: <the errno's text>".
Failure FileFailure(FailureKind kind, int error, const std::string& what);

// Where a lower layer knows only that a standard exception escaped.
Failure InternalFailure(const std::string& what);

}  // namespace qm
