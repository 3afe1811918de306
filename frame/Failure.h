#pragma once
// The one exception type of the program. It is thrown where a failure happens
// and caught in one place (ReportFailure), which shows it and ends the process.

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
};

// Error numbers shown to the user, after the classic run-time and mail-control
// numbers where one fits.
namespace errnum {
inline constexpr int kInternal = 51;           // internal error
inline constexpr int kFileNotFound = 53;       // file not found
inline constexpr int kDiskFull = 61;           // disk full
inline constexpr int kPermissionDenied = 70;   // permission denied
inline constexpr int kFileAccess = 75;         // path/file access error
inline constexpr int kPathNotFound = 76;       // path not found
inline constexpr int kNoDisplay = 429;         // cannot create the window
inline constexpr int kUserCancelled = 32001;   // sign-on cancelled by the user
inline constexpr int kMailFailure = 32002;     // unspecified mail failure
inline constexpr int kLoginFailed = 32003;     // sign-on failed
inline constexpr int kInvalidMessage = 32017;  // a message could not be read
inline constexpr int kNoMailbox = 32023;       // no mailbox configured
}  // namespace errnum

class Failure : public std::runtime_error {
 public:
  Failure(FailureKind kind, int number, const std::string& description)
      : std::runtime_error(description), kind_(kind), number_(number) {}

  FailureKind kind() const { return kind_; }
  int number() const { return number_; }
  int ExitCode() const { return static_cast<int>(kind_); }

 private:
  FailureKind kind_;
  int number_;
};

// A failure of a file operation, numbered after errno (ENOSPC disk full, EACCES
// permission denied, ENOENT path not found, anything else a file access error).
Failure FileFailure(FailureKind kind, int error, const std::string& what);

}  // namespace qm
