#pragma once
// File names in a folder that must never lose a file: numbered names for a
// name that is taken, the check that a name stays inside its folder, and
// files created without replacing anything.

#include <filesystem>
#include <string>
#include <string_view>

#include "frame/settings/UniqueFd.h"

namespace qm {

// How many numbered names are tried before giving up on a folder.
inline constexpr int kMaxNameNumber = 10000;

// `name` with " (number)" before its extension: "a.pdf", 2 -> "a (2).pdf".
// A leading dot does not start an extension (".bashrc (2)"). The stem is
// shortened at a UTF-8 character boundary so the result stays within 255 bytes.
std::string NumberedName(std::string_view name, int number);

// `name` for number 1, NumberedName(name, number) for the others.
std::string CandidateName(const std::string& name, int number);

// Throws Failure(FileWrite) unless `name` is one plain path component that,
// joined to `folder`, names an entry directly inside `folder`.
void CheckPlainName(const std::filesystem::path& folder, const std::string& name);

// A file newly created (O_EXCL) under `name` or the first free numbered name.
struct NewFile {
  UniqueFd fd;
  std::filesystem::path path;
};
NewFile CreateFreshFile(const std::filesystem::path& folder, const std::string& name);

}  // namespace qm
