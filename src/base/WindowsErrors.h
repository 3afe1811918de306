#pragma once
// Windows errors as errno values, so that callers written against POSIX
// (looping on EEXIST, telling ENOENT from EACCES) work unchanged.

namespace qm {

// A Win32 error (GetLastError()); EIO for one with no closer errno value.
int ErrnoOfWindowsError(unsigned long error);

// An NTSTATUS of the native calls.
int ErrnoOfStatus(long status);

}  // namespace qm
