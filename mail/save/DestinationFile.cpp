#include "mail/save/DestinationFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "frame/settings/Failure.h"
#include "mail/text/CutAtCharacter.h"

namespace qm {
namespace {

constexpr std::size_t kMaxNameBytes = 255;
constexpr mode_t kFileMode = 0644;  // the process umask is applied by open()

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

void CheckPlainName(const std::filesystem::path& folder, const std::string& name) {
  const bool plain = !name.empty() && name != "." && name != ".." &&
                     name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
  // The joined path itself must sit directly in the folder: an absolute name
  // would replace the folder, a separator would add a level.
  const std::filesystem::path joined = folder / name;
  const bool inside =
      joined.filename() == name && joined.parent_path() == (folder / "probe").parent_path();
  if (!plain || !inside) {
    throw Failure(FailureKind::FileWrite, Cause::kSystem,
                  "refused to save under a name that is not a plain file name: \"" + name + "\"",
                  EINVAL);
  }
}

NewFile CreateFreshFile(const std::filesystem::path& folder, const std::string& name) {
  CheckPlainName(folder, name);
  for (int number = 1; number <= kMaxNameNumber; ++number) {
    std::filesystem::path path = folder / CandidateName(name, number);
    UniqueFd fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (fd.valid()) return {std::move(fd), std::move(path)};
    if (errno != EEXIST)
      throw FileFailure(FailureKind::FileWrite, errno, "creating " + path.string());
  }
  throw Failure(FailureKind::FileWrite, Cause::kSystem,
                "no free file name left for " + name + " in " + folder.string(), EEXIST);
}

}  // namespace qm
