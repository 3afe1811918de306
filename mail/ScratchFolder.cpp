#include "mail/ScratchFolder.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

#include "frame/settings/Failure.h"
#include "mail/save/EndedRun.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

std::string OwnPrefix() { return "quillmar-" + std::to_string(::getuid()) + "-"; }

bool IsOurRealFolder(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

// Folders left behind by runs of this user that were killed before they could
// remove their own. Anything we cannot check or remove is left alone.
void RemoveStaleFolders(const fs::path& temp) {
  std::error_code error;
  for (fs::directory_iterator it(temp, error), end; !error && it != end; it.increment(error)) {
    if (!MadeByEndedRun(it->path().filename().string(), OwnPrefix()) ||
        !IsOurRealFolder(it->path())) {
      continue;
    }
    std::error_code ignored;
    fs::remove_all(it->path(), ignored);  // remove_all does not follow symlinks inside
  }
}

}  // namespace

std::unique_ptr<ScratchFolder> ScratchFolder::Create() {
  std::error_code error;
  const fs::path temp = fs::temp_directory_path(error);
  if (error) {
    throw FileFailure(FailureKind::FileWrite, error.value(), "no temporary folder");
  }
  RemoveStaleFolders(temp);
  std::string pattern = (temp / (RunPrefix(OwnPrefix()) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {  // mkdtemp makes it with mode 0700
    throw FileFailure(FailureKind::FileWrite, errno,
                      "cannot create a private folder in " + temp.string());
  }
  return std::unique_ptr<ScratchFolder>(new ScratchFolder(fs::path(pattern)));
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

}  // namespace qm
