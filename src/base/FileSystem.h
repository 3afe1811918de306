#pragma once
// Files and folders reached relative to a held folder, the same way on every
// platform. A folder is held by a descriptor; what lies in it is named
// relative to that descriptor, so renaming the folder, or putting a link in
// its place, changes nothing for whoever holds it.
//
// Descriptors are `int`s owned by UniqueFd; ::read, ::write and ::close work
// on them (on Windows they are C runtime descriptors wrapping a HANDLE).
// Every function reports failure as POSIX calls do: -1 with errno set
// (EEXIST, ENOENT, ENAMETOOLONG, EINVAL for a name the file system refuses,
// EILSEQ for a name that is not UTF-8...). Names are UTF-8, one component
// each; only the first open (with kNoFolder) takes a whole path.
//
// No function follows a link (a symbolic link, or a reparse point on
// Windows) as the last component of a name, unless asked to.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace qm::fs {

// In place of a held folder: the name is a path, absolute or relative to the
// working folder. Equal to AT_FDCWD on POSIX.
inline constexpr int kNoFolder = -100;

// A path as these functions take it with kNoFolder: its bytes on POSIX,
// UTF-8 on Windows (never the ANSI code page).
std::string NameOf(const std::filesystem::path& path);

// Who owns a file: the user id on POSIX; on Windows the owner's security
// identifier in its text form ("S-1-5-21-...").
#ifdef _WIN32
using OwnerId = std::string;
#else
using OwnerId = uid_t;
#endif

enum class EntryKind { kRegular, kFolder, kLink, kOther };

// What a file is and which file it is: two entries with equal identities
// are the same file.
struct EntryIdentity {
  std::uint64_t device = 0;  // device number; the volume serial number on Windows
  std::uint64_t index = 0;   // inode number; the file index on Windows
  bool operator==(const EntryIdentity&) const = default;
};

struct EntryInfo {
  EntryKind kind = EntryKind::kOther;
  std::uint64_t size = 0;
  EntryIdentity identity;
  OwnerId owner{};
};

// Whether a link as the last component of a name is followed.
enum class FinalLink { kFollow, kRefuse };

// Opens the folder `name` in `folder`, for holding; fails with ELOOP on a
// link that is not followed, ENOTDIR on anything else that is not a folder.
// On Windows nobody can rename or remove the folder while it is held (EBUSY),
// this program neither: close it before removing it. A folder the user
// named may be reached through a link (kFollow); one the program finds never.
int OpenFolder(int folder, const std::string& name, FinalLink link = FinalLink::kRefuse);

// Opens the existing regular file `name` for reading. Never waits (on a
// FIFO, a device) and never takes a terminal: a folder fails with EISDIR,
// anything else that is not a regular file with ENXIO, a link that is not
// followed with ELOOP.
int OpenForReading(int folder, const std::string& name, FinalLink link = FinalLink::kRefuse);

// Creates `name`, which must not exist (EEXIST), for reading and writing,
// with permissions `mode` on POSIX. On Windows others may read it while it
// is open, not write it.
int CreateExclusive(int folder, const std::string& name, unsigned mode);

// Creates a scratch file in `folder`, for reading and writing, that nobody
// else opens and that goes when its last descriptor closes, however the
// program ends. On POSIX it has no name (O_TMPFILE), or where the file system
// cannot do that, a unique name removed at once. Windows has no unnamed
// file: there it keeps a unique name until it is closed (delete on close).
int CreateScratchFile(int folder);

// Makes the folder `name`, private to its owner (0700 on POSIX; on Windows
// the permissions the parent folder passes on).
int MakeFolder(int folder, const std::string& name);

// Removes the file (a link: the link itself) `name`; EISDIR for a folder.
// Its name is free at once, even while the file is open (on Windows from
// 10 1709 on NTFS; elsewhere when the file's last descriptor closes).
int RemoveFile(int folder, const std::string& name);
// Removes the folder `name`; ENOTEMPTY unless it is empty.
int RemoveEmptyFolder(int folder, const std::string& name);

// Renames without replacing: fails with EEXIST when `to` exists, leaving
// both as they were. Where a file system cannot do this atomically, the
// error says so (EINVAL, ENOSYS or EOPNOTSUPP) and nothing happened.
int RenameNoReplace(int from_folder, const std::string& from, int to_folder, const std::string& to);
// Renames, replacing whatever `to` names.
int RenameReplacing(int from_folder, const std::string& from, int to_folder, const std::string& to);
// A second name `to` for the file `from`; EEXIST when `to` exists.
int HardLink(int from_folder, const std::string& from, int to_folder, const std::string& to);

// About the entry `name` itself (a link is described, not followed).
int InfoOfEntry(int folder, const std::string& name, EntryInfo& info);
// About an open descriptor.
int InfoOf(int descriptor, EntryInfo& info);
// The user this program runs as. New files are theirs on POSIX; on Windows
// an elevated administrator's new files belong to the Administrators group
// instead, so whoever must know compares with a file of their own making.
OwnerId CurrentOwner();

// The names in `folder` ("." and ".." left out), listed without moving
// anything the descriptor is used for. Names that cannot be written in
// UTF-8 (Windows allows unpaired surrogates) are left out.
int ListFolder(int folder, std::vector<std::string>& names);

// Waits until the file's content is on the disk.
int FlushFile(int descriptor);
// Waits until the content of the regular file `name` (no link followed) is
// on the disk, without writing to it. Windows flushes only a file opened for
// writing: one that is open for writing elsewhere, without sharing that,
// fails with EBUSY (or EACCES) there.
int FlushEntry(int folder, const std::string& name);
// Waits until the folder's entries (creations, renames, removals) are on the
// disk. Windows has no such call: its file systems journal their entries and
// FlushFile is what exists, so there it succeeds doing nothing.
int FlushFolder(int folder);

// Tells the system the file's cached pages will not be read again (does
// nothing on Windows).
void DropCachedPages(int descriptor);

// Reads up to `size` bytes at `offset`; the count read, 0 at the end, -1 on
// failure. POSIX leaves the descriptor's position; Windows moves it.
std::int64_t ReadAt(int descriptor, void* buffer, std::size_t size, std::uint64_t offset);

// Writes up to `size` bytes at `offset`; the count written, -1 on failure.
// POSIX leaves the descriptor's position; Windows moves it.
std::int64_t WriteAt(int descriptor, const void* buffer, std::size_t size, std::uint64_t offset);

// Cuts the file to nothing and puts the position at its start, for writing
// it anew; 0, or -1 with errno.
int EmptyAndRewind(int descriptor);

}  // namespace qm::fs
