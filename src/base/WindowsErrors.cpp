#include "base/WindowsErrors.h"

#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS

#include <ntstatus.h>
#include <winternl.h>

#include <cerrno>
#include <utility>

namespace qm {
namespace {

// ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's winerror.h lacks.
constexpr DWORD kDiskQuotaExceeded = 1295;

constexpr std::pair<DWORD, int> kWindowsErrors[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_BAD_NET_NAME, ENOENT},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_INVALID_NAME, EINVAL},
    {ERROR_BAD_PATHNAME, EINVAL},
    {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_NO_UNICODE_TRANSLATION, EILSEQ},
    {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_PRIVILEGE_NOT_HELD, EPERM},
    {ERROR_WRITE_PROTECT, EROFS},
    {ERROR_SHARING_VIOLATION, EBUSY},
    {ERROR_LOCK_VIOLATION, EBUSY},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {kDiskQuotaExceeded, ENOSPC},  // the user's share of the disk is used up
    {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_NOT_SUPPORTED, EOPNOTSUPP},
    {ERROR_INVALID_FUNCTION, EOPNOTSUPP},
    {ERROR_CANT_RESOLVE_FILENAME, ELOOP},
    {ERROR_TOO_MANY_LINKS, EMLINK},
};

// The statuses whose Win32 error would lose what happened.
constexpr std::pair<NTSTATUS, int> kStatuses[] = {
    {STATUS_FILE_IS_A_DIRECTORY, EISDIR},    // Win32: access denied
    {STATUS_NOT_A_DIRECTORY, ENOTDIR},       // Win32: the directory name is invalid
    {STATUS_OBJECT_NAME_COLLISION, EEXIST},  // Win32: already exists
    {STATUS_OBJECT_NAME_INVALID, EINVAL},    // Win32: invalid name
    {STATUS_DELETE_PENDING, ENOENT},         // removed, gone when its last handle closes
    {STATUS_NAME_TOO_LONG, ENAMETOOLONG},    // Win32: the file name is too long
    {STATUS_SHARING_VIOLATION, EBUSY},      {STATUS_NOT_SAME_DEVICE, EXDEV},
};

}  // namespace

int ErrnoOfWindowsError(unsigned long error) {
  for (const auto& [windows, posix] : kWindowsErrors) {
    if (windows == error) return posix;
  }
  return EIO;
}

int ErrnoOfStatus(long status) {
  for (const auto& [native, posix] : kStatuses) {
    if (native == status) return posix;
  }
  return ErrnoOfWindowsError(::RtlNtStatusToDosError(status));
}

}  // namespace qm
