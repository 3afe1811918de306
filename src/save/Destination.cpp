#include "save/Destination.h"

#include <cerrno>
#include <string>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/HexText.h"
#include "base/RandomBytes.h"
#include "save/EndedRun.h"

namespace qm {
namespace {

constexpr unsigned kProbeMode = 0600;

// Named like the program's other hidden files, so that a probe a killed run
// left behind is removed by the next scan.
std::string ProbeName() {
  return RunNames::OfThisRun(".quillmar-").Prefix() + "probe-" + HexOf(RandomBytes(6));
}

}  // namespace

UniqueFd OpenDestination(const std::string& path) {
  if (path.empty()) {
    throw Failure(FailureKind::Destination, Cause::kSystem,
                  "no destination folder is set: choose the folder where attachments are saved",
                  ENOENT);
  }
  UniqueFd folder(fs::OpenFolder(fs::kNoFolder, path, fs::FinalLink::kFollow));
  if (!folder.valid() && errno == ENOTDIR) {
    throw Failure(FailureKind::Destination, Cause::kSystem, "destination is not a folder: " + path,
                  ENOTDIR);
  }
  if (!folder.valid())
    throw FileFailure(FailureKind::Destination, errno, "destination folder " + path);
  // Permission bits do not tell everything (read-only mounts, ACLs, root):
  // create and remove a probe file.
  const std::string probe = ProbeName();
  const UniqueFd created(fs::CreateExclusive(folder.get(), probe, kProbeMode));
  if (!created.valid()) {
    throw FileFailure(FailureKind::Destination, errno,
                      "cannot write into destination folder " + path);
  }
  fs::RemoveFile(folder.get(), probe);
  return folder;
}

void CheckDestination(const std::string& path) { OpenDestination(path); }

}  // namespace qm
