#include "save/DestinationFile.h"

#include <cerrno>
#include <cstddef>
#include <string>

#include "base/Failure.h"
#include "text/CutAtCharacter.h"

namespace qm {
namespace {

constexpr std::size_t kMaxNameBytes = 255;
constexpr unsigned kFileMode = 0644;  // the process umask applies (POSIX only)

std::size_t ExtensionStart(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return (dot == std::string_view::npos || dot == 0) ? name.size() : dot;
}

}  // namespace

std::string CandidateName(const std::string& name, int number) {
  return number == 1 ? name : NumberedName(name, number);
}

std::string NumberedName(std::string_view name, int number) {
  const std::string suffix = " (" + std::to_string(number) + ")";
  const std::size_t dot = ExtensionStart(name);
  std::string_view stem = name.substr(0, dot);
  std::string_view extension = name.substr(dot);
  if (stem.size() + suffix.size() + extension.size() > kMaxNameBytes) {
    const std::size_t room = kMaxNameBytes - suffix.size();
    if (extension.size() > room / 2) extension = "";  // an absurd extension gives way
    stem = CutAtCharacter(stem, room - extension.size());
  }
  return std::string(stem) + suffix + std::string(extension);
}

// No separator: an absolute name would leave the folder, a relative one with
// a separator would add a level; "." and ".." are the folders themselves.
void CheckPlainName(const std::string& name) {
  const bool plain = !name.empty() && name != "." && name != ".." &&
                     name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
  if (!plain) {
    throw Failure(FailureKind::FileWrite, Cause::kSystem,
                  "refused to save under a name that is not a plain file name: \"" + name + "\"",
                  EINVAL);
  }
}

NewFile CreateFreshFile(int folder, const std::string& name) {
  CheckPlainName(name);
  for (int number = 1; number <= kMaxNameNumber; ++number) {
    std::string candidate = CandidateName(name, number);
    UniqueFd fd(fs::CreateExclusive(folder, candidate, kFileMode));
    if (!fd.valid() && errno == EEXIST) continue;
    fs::EntryInfo info;
    if (!fd.valid() || fs::InfoOf(fd.get(), info) != 0) {
      throw FileFailure(FailureKind::FileWrite, errno, "creating " + candidate);
    }
    return {std::move(fd), std::move(candidate), info.identity};
  }
  throw Failure(FailureKind::FileWrite, Cause::kSystem, "no free file name left for " + name,
                EEXIST);
}

}  // namespace qm
