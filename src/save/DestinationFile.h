#pragma once
// File names in a folder that must never lose a file: numbered names for a
// name that is taken, the check that a name stays inside its folder, and
// files created without replacing anything.

#include <string>
#include <string_view>

#include "base/FileSystem.h"
#include "base/UniqueFd.h"

namespace qm {

// How many numbered names are tried before a file is given up (reported,
// its message left unread): more than any real folder holds of one name.
inline constexpr int kMaxNameNumber = 1000000;

// `name` with " (number)" before its extension: "a.pdf", 2 -> "a (2).pdf".
// A leading dot does not start an extension (".bashrc (2)"). The stem is
// shortened at a UTF-8 character boundary so the result stays within 255 bytes.
std::string NumberedName(std::string_view name, int number);

// `name` for number 1, NumberedName(name, number) for the others.
std::string CandidateName(const std::string& name, int number);

// Throws Failure(FileWrite) unless `name` is one plain path component: an
// entry directly inside whatever folder it is taken relative to.
void CheckPlainName(const std::string& name);

// Which file a name led to when it was made: a placement checks that it
// still moves that one.
using FileIdentity = fs::EntryIdentity;

// A file newly created (exclusively, no link followed) in the folder held open
// as `folder`, under `name` or the first free numbered name.
struct NewFile {
  UniqueFd fd;
  std::string name;  // as created in the folder
  FileIdentity identity;
};
NewFile CreateFreshFile(int folder, const std::string& name);

// A file written into the destination's work folder: its path relative to
// that folder ("a.pdf", "3/a.pdf") and what it was when created.
struct WrittenFile {
  std::string name;
  FileIdentity identity;
};

}  // namespace qm
