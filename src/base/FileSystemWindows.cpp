// The held-folder file functions on Windows. A held folder is a directory
// HANDLE wrapped in a C runtime descriptor; everything in it is opened with
// NtCreateFile relative to that HANDLE (OBJECT_ATTRIBUTES.RootDirectory), so
// no path string is rebuilt, and renames and links name their target folder
// by HANDLE too. FILE_OPEN_REPARSE_POINT keeps links unfollowed. Names are
// checked here, because the native calls take names Win32 refuses (CON,
// trailing dots) and would make files nothing else can open.
//
// Under Wine (8.0) a symbolic link of the Linux side is no reparse point
// through a handle: a link to a file reads as that file, one to a folder
// as that folder. Windows' own links and junctions are refused as they
// should be there.

#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <ntstatus.h>
#include <sddl.h>
#include <winternl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <random>
#include <string_view>

#include "base/FileSystem.h"
#include "base/WindowsErrors.h"
#include "base/WindowsFileName.h"
#include "base/WindowsText.h"

extern "C" {
NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc,
                                    PVOID apc_context, PIO_STATUS_BLOCK status, PVOID buffer,
                                    ULONG length, FILE_INFORMATION_CLASS information_class,
                                    BOOLEAN single_entry, PUNICODE_STRING mask,
                                    BOOLEAN restart_scan);
}

namespace qm::fs {
namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

int Fail(int error) {
  errno = error;
  return -1;
}

int FailWithStatus(NTSTATUS status) { return Fail(ErrnoOfStatus(status)); }

int FailWithLastError() { return Fail(ErrnoOfWindowsError(::GetLastError())); }

int SidText(PSID sid, OwnerId& owner) {
  LPSTR text = nullptr;  // a SID's text is ASCII: no code page matters
  if (!::ConvertSidToStringSidA(sid, &text)) return FailWithLastError();
  owner = text;
  ::LocalFree(text);
  return 0;
}

// The HANDLE behind a descriptor, or nullptr (errno EBADF).
HANDLE HandleOf(int descriptor) {
  const intptr_t handle = ::_get_osfhandle(descriptor);
  if (handle == -1) return nullptr;
  return reinterpret_cast<HANDLE>(handle);
}

constexpr std::size_t kLongestNativeName = 32767;

// Where a name lies for the native calls: a folder HANDLE and the name in
// it, or (kNoFolder) no HANDLE and the whole NT path.
struct NativeName {
  HANDLE root = nullptr;
  std::wstring text;
};

// Fills `native` from `folder` and the UTF-8 `name`; -1 with errno set when
// the name cannot be a file's name on Windows.
int ToNativeName(int folder, const std::string& name, NativeName& native) {
  std::wstring wide;
  if (const int error = Utf16Of(name, wide); error != 0) return Fail(error);
  if (folder != kNoFolder) {
    if (const int error = ComponentRefusal(wide); error != 0) return Fail(error);
    native.root = HandleOf(folder);
    if (native.root == nullptr) return Fail(EBADF);
    native.text = std::move(wide);
    return 0;
  }
  if (const int error = PathRefusal(wide); error != 0) return Fail(error);
  UNICODE_STRING nt_path{};
  if (!RtlDosPathNameToNtPathName_U(wide.c_str(), &nt_path, nullptr, nullptr)) {
    return Fail(EINVAL);
  }
  native.root = nullptr;
  native.text.assign(nt_path.Buffer, nt_path.Length / sizeof(wchar_t));
  ::RtlFreeUnicodeString(&nt_path);
  // A native name counts its bytes in 16 bits.
  return native.text.size() > kLongestNativeName ? Fail(ENAMETOOLONG) : 0;
}

struct OpenRequest {
  ACCESS_MASK access = 0;
  ULONG share = 0;
  ULONG disposition = FILE_OPEN;
  ULONG options = 0;
};

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `name` in `folder` as `request` says; nullptr with errno set on
// failure. Every handle is synchronous, so the C runtime can read it.
OwnedHandle OpenNative(int folder, const std::string& name, const OpenRequest& request) {
  NativeName native;
  if (ToNativeName(folder, name, native) != 0) return nullptr;
  UNICODE_STRING text{};
  text.Buffer = native.text.data();
  text.Length = static_cast<USHORT>(native.text.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes{};
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, native.root, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status =
      ::NtCreateFile(&handle, request.access | SYNCHRONIZE, &attributes, &io, nullptr,
                     FILE_ATTRIBUTE_NORMAL, request.share, request.disposition,
                     request.options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (!NT_SUCCESS(status)) {
    FailWithStatus(status);
    return nullptr;
  }
  return OwnedHandle(handle);
}

// A handle of its own on the folder `held` (an empty name relative to it),
// for listing: a listing's position and, under Wine, its cached entries
// belong to the handle that read them.
OwnedHandle Reopen(HANDLE held) {
  UNICODE_STRING empty{};
  OBJECT_ATTRIBUTES attributes{};
  InitializeObjectAttributes(&attributes, &empty, 0, held, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status = ::NtCreateFile(
      &handle, FILE_LIST_DIRECTORY | SYNCHRONIZE, &attributes, &io, nullptr, 0, kShareAll,
      FILE_OPEN, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (!NT_SUCCESS(status)) {
    FailWithStatus(status);
    return nullptr;
  }
  return OwnedHandle(handle);
}

// Hands the HANDLE over to a C runtime descriptor.
int DescriptorOf(OwnedHandle handle, int flags) {
  const int descriptor =
      ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), flags | _O_BINARY);
  if (descriptor < 0) return Fail(EMFILE);
  handle.release();  // the descriptor closes it now
  return descriptor;
}

bool IsReparsePoint(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  return ::GetFileInformationByHandle(handle, &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

int OwnerOf(HANDLE handle, OwnerId& owner) {
  PSID sid = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid,
                                        nullptr, nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return Fail(ErrnoOfWindowsError(error));
  const int result = SidText(sid, owner);
  ::LocalFree(descriptor);
  return result;
}

int InfoOfHandle(HANDLE handle, EntryInfo& info) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information)) return FailWithLastError();
  const DWORD attributes = information.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    info.kind = EntryKind::kLink;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    info.kind = EntryKind::kFolder;
  } else {
    info.kind = ::GetFileType(handle) == FILE_TYPE_DISK ? EntryKind::kRegular : EntryKind::kOther;
  }
  info.size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
  info.identity.device = information.dwVolumeSerialNumber;
  info.identity.index =
      (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  return OwnerOf(handle, info.owner);
}

// Removes the entry open as `handle`. POSIX semantics (Windows 10 1709 on,
// NTFS) free the name at once even while others hold the file open; where
// they are missing, the name goes when the last handle closes.
int MarkForDeletion(OwnedHandle handle) {
  constexpr auto kDispositionEx = static_cast<FILE_INFORMATION_CLASS>(64);
  constexpr ULONG kDeleteWithPosixSemantics = 0x1 | 0x2;
  ULONG flags = kDeleteWithPosixSemantics;
  IO_STATUS_BLOCK io{};
  NTSTATUS status = ::NtSetInformationFile(handle.get(), &io, &flags, sizeof flags, kDispositionEx);
  if (status == STATUS_INVALID_INFO_CLASS || status == STATUS_NOT_IMPLEMENTED ||
      status == STATUS_NOT_SUPPORTED || status == STATUS_INVALID_PARAMETER) {
    FILE_DISPOSITION_INFORMATION disposition{};
    disposition.DoDeleteFile = TRUE;
    status = ::NtSetInformationFile(handle.get(), &io, &disposition, sizeof disposition,
                                    FileDispositionInformation);
  }
  return NT_SUCCESS(status) ? 0 : FailWithStatus(status);
}

// Gives the entry open as `source` the name `to` in `to_folder`: renamed
// (FileRenameInformation) or linked (FileLinkInformation). Both structures
// share one layout.
int NameAgain(HANDLE source, int to_folder, const std::string& to, bool replace,
              FILE_INFORMATION_CLASS how) {
  NativeName target;
  if (ToNativeName(to_folder, to, target) != 0) return -1;
  const std::size_t name_bytes = target.text.size() * sizeof(wchar_t);
  // Never shorter than the structure itself, which holds one character: the
  // system refuses a shorter buffer (a one-character name) as invalid.
  std::vector<std::byte> buffer(std::max(sizeof(FILE_RENAME_INFORMATION),
                                         offsetof(FILE_RENAME_INFORMATION, FileName) + name_bytes));
  auto* request = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  request->ReplaceIfExists = replace ? TRUE : FALSE;
  request->RootDirectory = target.root;
  request->FileNameLength = static_cast<ULONG>(name_bytes);
  std::copy_n(target.text.data(), target.text.size(), request->FileName);
  IO_STATUS_BLOCK io{};
  const NTSTATUS status =
      ::NtSetInformationFile(source, &io, request, static_cast<ULONG>(buffer.size()), how);
  return NT_SUCCESS(status) ? 0 : FailWithStatus(status);
}

int Rename(int from_folder, const std::string& from, int to_folder, const std::string& to,
           bool replace) {
  const OwnedHandle source =
      OpenNative(from_folder, from, {DELETE, kShareAll, FILE_OPEN, FILE_OPEN_REPARSE_POINT});
  if (!source) return -1;
  return NameAgain(source.get(), to_folder, to, replace, FileRenameInformation);
}

}  // namespace

std::string NameOf(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

int OpenFolder(int folder, const std::string& name, FinalLink link) {
  ULONG options = FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT;
  if (link == FinalLink::kRefuse) options |= FILE_OPEN_REPARSE_POINT;
  // No FILE_SHARE_DELETE: nobody renames or removes the folder while held.
  OwnedHandle handle =
      OpenNative(folder, name,
                 {FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, options});
  if (!handle) return -1;
  if (link == FinalLink::kRefuse && IsReparsePoint(handle.get())) return Fail(ELOOP);
  return DescriptorOf(std::move(handle), _O_RDONLY);
}

int OpenForReading(int folder, const std::string& name, FinalLink link) {
  ULONG options = FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY;
  if (link == FinalLink::kRefuse) options |= FILE_OPEN_REPARSE_POINT;
  // Shared as a POSIX file is: the program may rename, remove or write a
  // file it is reading through another descriptor.
  OwnedHandle handle = OpenNative(folder, name, {GENERIC_READ, kShareAll, FILE_OPEN, options});
  if (!handle) return -1;
  if (link == FinalLink::kRefuse && IsReparsePoint(handle.get())) return Fail(ELOOP);
  if (::GetFileType(handle.get()) != FILE_TYPE_DISK) return Fail(ENXIO);
  return DescriptorOf(std::move(handle), _O_RDONLY);
}

int CreateExclusive(int folder, const std::string& name, unsigned /*mode*/) {
  // Others may read it while it is written; nobody else writes it. Our own
  // renames and removals open it again by name, hence FILE_SHARE_DELETE.
  OwnedHandle handle =
      OpenNative(folder, name,
                 {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_CREATE,
                  FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT});
  if (!handle) return -1;
  return DescriptorOf(std::move(handle), 0);
}

int CreateScratchFile(int folder) {
  // Shared with nobody; deleted by the system when the last handle on it
  // closes, even when the program is killed.
  std::mt19937_64 random(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = ".scratch-" + std::to_string(random());
    OwnedHandle handle =
        OpenNative(folder, name,
                   {GENERIC_READ | GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                    FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_DELETE_ON_CLOSE});
    if (!handle && errno == EEXIST) continue;
    if (!handle) return -1;
    return DescriptorOf(std::move(handle), 0);
  }
  return Fail(EEXIST);
}

int MakeFolder(int folder, const std::string& name) {
  // The new folder takes the permissions its parent passes on (no explicit
  // security descriptor): under the user's profile, private to the user.
  const OwnedHandle handle = OpenNative(
      folder, name,
      {FILE_LIST_DIRECTORY, kShareAll, FILE_CREATE, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT});
  return handle ? 0 : -1;
}

int RemoveFile(int folder, const std::string& name) {
  OwnedHandle handle =
      OpenNative(folder, name,
                 {DELETE, kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT});
  if (!handle) return -1;
  return MarkForDeletion(std::move(handle));
}

int RemoveEmptyFolder(int folder, const std::string& name) {
  OwnedHandle handle = OpenNative(
      folder, name, {DELETE, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT});
  if (!handle) return -1;
  return MarkForDeletion(std::move(handle));
}

int RenameNoReplace(int from_folder, const std::string& from, int to_folder,
                    const std::string& to) {
  return Rename(from_folder, from, to_folder, to, false);
}

int RenameReplacing(int from_folder, const std::string& from, int to_folder,
                    const std::string& to) {
  return Rename(from_folder, from, to_folder, to, true);
}

int HardLink(int from_folder, const std::string& from, int to_folder, const std::string& to) {
  const OwnedHandle source = OpenNative(from_folder, from,
                                        {FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN,
                                         FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT});
  if (!source) return -1;
  return NameAgain(source.get(), to_folder, to, false, FileLinkInformation);
}

int InfoOfEntry(int folder, const std::string& name, EntryInfo& info) {
  const OwnedHandle handle = OpenNative(
      folder, name,
      {FILE_READ_ATTRIBUTES | READ_CONTROL, kShareAll, FILE_OPEN, FILE_OPEN_REPARSE_POINT});
  if (!handle) return -1;
  return InfoOfHandle(handle.get(), info);
}

int InfoOf(int descriptor, EntryInfo& info) {
  const HANDLE handle = HandleOf(descriptor);
  if (handle == nullptr) return Fail(EBADF);
  return InfoOfHandle(handle, info);
}

OwnerId CurrentOwner() {
  OwnerId owner;
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return owner;
  const OwnedHandle owned(token);
  std::array<std::byte, 256> buffer{};
  DWORD size = 0;
  if (::GetTokenInformation(token, TokenUser, buffer.data(), buffer.size(), &size)) {
    SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, owner);
  }
  return owner;
}

int ListFolder(int folder, std::vector<std::string>& names) {
  names.clear();
  const HANDLE held = HandleOf(folder);
  if (held == nullptr) return Fail(EBADF);
  const OwnedHandle listing = Reopen(held);
  if (!listing) return -1;
  std::vector<std::byte> buffer(64 * 1024);
  for (;;) {
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = NtQueryDirectoryFile(listing.get(), nullptr, nullptr, nullptr, &io,
                                                 buffer.data(), static_cast<ULONG>(buffer.size()),
                                                 FileNamesInformation, FALSE, nullptr, FALSE);
    if (status == STATUS_NO_MORE_FILES) return 0;
    if (!NT_SUCCESS(status)) return FailWithStatus(status);
    for (std::size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_NAMES_INFORMATION*>(&buffer[offset]);
      const std::wstring_view wide(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      std::string name;
      if (wide != L"." && wide != L".." && Utf8Of(wide, name) == 0) names.push_back(name);
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

int FlushFile(int descriptor) {
  const HANDLE handle = HandleOf(descriptor);
  if (handle == nullptr) return Fail(EBADF);
  return ::FlushFileBuffers(handle) ? 0 : FailWithLastError();
}

int FlushEntry(int folder, const std::string& name) {
  // FlushFileBuffers needs a handle that may write; nothing is written.
  const OwnedHandle handle = OpenNative(
      folder, name,
      {GENERIC_WRITE, kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT});
  if (!handle) return -1;
  if (IsReparsePoint(handle.get())) return Fail(ELOOP);
  return ::FlushFileBuffers(handle.get()) ? 0 : FailWithLastError();
}

int FlushFolder(int /*folder*/) { return 0; }

void DropCachedPages(int /*descriptor*/) {}

namespace {

// Where a positioned read or write starts.
OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

// One call moves at most 1 GiB; callers loop for more.
DWORD OneCallOf(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
}

}  // namespace

int EmptyAndRewind(int descriptor) {
  if (const errno_t error = _chsize_s(descriptor, 0); error != 0) return Fail(error);
  return _lseeki64(descriptor, 0, SEEK_SET) == 0 ? 0 : -1;
}

std::int64_t ReadAt(int descriptor, void* buffer, std::size_t size, std::uint64_t offset) {
  const HANDLE handle = HandleOf(descriptor);
  if (handle == nullptr) return Fail(EBADF);
  OVERLAPPED position = At(offset);
  DWORD count = 0;
  if (::ReadFile(handle, buffer, OneCallOf(size), &count, &position)) return count;
  if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
  return FailWithLastError();
}

std::int64_t WriteAt(int descriptor, const void* buffer, std::size_t size, std::uint64_t offset) {
  const HANDLE handle = HandleOf(descriptor);
  if (handle == nullptr) return Fail(EBADF);
  OVERLAPPED position = At(offset);
  DWORD count = 0;
  if (::WriteFile(handle, buffer, OneCallOf(size), &count, &position)) return count;
  return FailWithLastError();
}

}  // namespace qm::fs
