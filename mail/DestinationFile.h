#pragma once
// Putting files into a folder without ever replacing one that is already
// there: a copy lands under a free name ("name (2).ext", ...) unless the file
// of that name already holds the very same bytes.

#include <filesystem>
#include <string>
#include <string_view>

#include "mail/UniqueFd.h"

namespace qm {

// How many numbered names are tried before giving up on a folder.
inline constexpr int kMaxNameNumber = 10000;

// `name` with " (number)" before its extension: "a.pdf", 2 -> "a (2).pdf".
// A leading dot does not start an extension (".bashrc (2)"). The stem is
// shortened at a UTF-8 character boundary so the result stays within 255 bytes.
std::string NumberedName(std::string_view name, int number);

// Throws Failure(FileWrite) unless `name` is one plain path component that,
// joined to `folder`, names an entry directly inside `folder`.
void CheckPlainName(const std::filesystem::path& folder, const std::string& name);

// A file newly created (O_EXCL) under `name` or the first free numbered name.
struct NewFile {
  UniqueFd fd;
  std::filesystem::path path;
};
NewFile CreateFreshFile(const std::filesystem::path& folder, const std::string& name);

// Copies `source` into `folder` as `name` through a hidden temporary file that
// is synced and then renamed without replacing anything. The new name lasts
// through a crash only after SyncSavedNames. Returns the path of
// the file that holds the content afterwards (an identical file already there
// is left as it is and returned). Throws FileFailure on any failure; no
// partial file is ever left behind.
std::filesystem::path SaveIntoFolder(const std::filesystem::path& source, const std::string& folder,
                                     const std::string& name);

// Makes the names of the files saved into `folder` lasting (one fsync of the
// folder). Called once before the saved messages are marked read.
void SyncSavedNames(const std::string& folder);

}  // namespace qm
