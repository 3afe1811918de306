#pragma once
// The settings file on disk: read whole, replaced atomically and private to
// the user, and moved out of the way without replacing anything. Results are
// Win32 error codes, as in Registry.h.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// A settings file holds a few values: one larger than this is not ours to read.
inline constexpr std::size_t kSettingsFileLimit = 1024 * 1024;

// TooLarge: a regular file over kSettingsFileLimit; nothing of it was read.
// NotRegular: a FIFO, a device or a folder (also behind a link); never read, never replaced.
enum class FileState { Missing, Read, Unreadable, TooLarge, NotRegular };

struct FileContent {
  FileState state = FileState::Missing;
  std::string bytes;
};

// Unreadable: the file exists but cannot be opened or read (no permission).
FileContent ReadWholeFile(const std::filesystem::path& path);

// Takes the permissions of group and others off the regular file `file`,
// which is never opened through a link. Nothing happens to a private file.
enum class PrivacyChange { AlreadyPrivate, MadePrivate, Failed };
PrivacyChange MakePrivate(const std::filesystem::path& file);

// Missing folders are created private to the user; existing ones are left as they are.
long CreatePrivateFolders(const std::filesystem::path& folder);

// Readers see either the old file or the whole new one, never a part of it.
long ReplaceFile(const std::filesystem::path& file, std::string_view bytes);

// Renames `file` to "<its name>.unreadable-<stamp>" in its folder, or to that
// name with "-2", "-3"... when the name is taken; never over an existing file.
// It is made private first: it may hold a password. The new path, or nothing
// when the file could not be moved.
std::optional<std::filesystem::path> MoveAside(const std::filesystem::path& file,
                                               const std::string& stamp);

// The local time now as YYYYMMDD-HHMMSS.
std::string LocalTimeStamp();

}  // namespace qm
