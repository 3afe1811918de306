#pragma once
// The settings file on disk: read whole, and replaced atomically and private
// to the user. Results are Win32 error codes, as in Registry.h.

#include <filesystem>
#include <string>
#include <string_view>

namespace qm {

enum class FileState { Missing, Read, Unreadable };

struct FileContent {
  FileState state = FileState::Missing;
  std::string bytes;
};

// Unreadable: the file exists but cannot be opened or read (no permission, a folder).
FileContent ReadWholeFile(const std::filesystem::path& path);

// Missing folders are created private to the user; existing ones are left as they are.
long CreatePrivateFolders(const std::filesystem::path& folder);

// Readers see either the old file or the whole new one, never a part of it.
long ReplaceFile(const std::filesystem::path& file, std::string_view bytes);

}  // namespace qm
