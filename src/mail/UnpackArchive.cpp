#include "mail/UnpackArchive.h"

#include <cerrno>
#include <map>
#include <string_view>
#include <utility>

#include "archive/ArchiveLimits.h"
#include "archive/ZipArchive.h"
#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "save/BatchOnDisk.h"
#include "save/DestinationFile.h"
#include "save/DestinationFolder.h"
#include "save/HeldFolder.h"

namespace qm {
namespace {

constexpr unsigned kFileMode = 0644;  // the process umask applies (POSIX only)
constexpr int kMaxNumber = 1000;      // "name (n)" inside an unpacked folder
// Deeper than any entry may go.
constexpr int kFolderDepth = static_cast<int>(ArchiveLimits{}.max_depth) + 1;

Failure WriteFailure(int error, const std::string& what) {
  return FileFailure(FailureKind::FileWrite, error, "unpacking " + what);
}

// The folder of the work folder the entries are written into, removed
// with what it holds unless it was placed.
class PartialFolder {
 public:
  explicit PartialFolder(DestinationFolder& destination)
      : destination_(destination), name_(destination.MakeWorkSubfolder()) {
    root_ = HeldFolder::Open(destination.work_folder().fd(), name_);
    if (!root_.valid()) throw WriteFailure(errno, name_);
  }
  ~PartialFolder() {
    if (placed_) return;
    const int work = destination_.work_folder().fd();
    // Let go of before a failed placing: held again to be emptied.
    const HeldFolder root = root_.valid() ? std::move(root_) : HeldFolder::Open(work, name_);
    if (root.valid()) EmptyFolder(root.fd(), kFolderDepth);
    fs::RemoveEmptyFolder(work, name_);
  }
  PartialFolder(const PartialFolder&) = delete;
  PartialFolder& operator=(const PartialFolder&) = delete;

  int fd() const { return root_.fd(); }

  std::string Place(const std::string& folder_name) {
    // Windows renames no folder while one of its entries is open.
    root_ = HeldFolder();
    std::string placed = destination_.PlaceFolder(name_, folder_name);
    placed_ = true;
    return placed;
  }

 private:
  DestinationFolder& destination_;
  std::string name_;
  HeldFolder root_;
  bool placed_ = false;
};

// The folders of the unpacked tree, made on first use. An entry's folder
// path maps to the folder made for it, whose name may carry a number when
// a file took the name first.
class FolderTree {
 public:
  explicit FolderTree(int root) : root_(root) {}

  // The folder for the '/'-separated `path` ("" is the root), held open.
  int Open(const std::string& path) {
    if (path.empty()) return root_;
    if (path == open_path_) return open_.fd();
    HeldFolder folder;
    int parent = root_;
    std::size_t start = 0;
    while (start <= path.size()) {
      const std::size_t end = std::min(path.find('/', start), path.size());
      const std::string prefix = path.substr(0, end);
      folder = OpenOrMake(parent, prefix, path.substr(start, end - start));
      parent = folder.fd();
      start = end + 1;
    }
    open_ = std::move(folder);
    open_path_ = path;
    return open_.fd();
  }

 private:
  HeldFolder OpenOrMake(int parent, const std::string& prefix, const std::string& component) {
    auto made = made_.find(prefix);
    if (made == made_.end()) made = made_.emplace(prefix, MakeFree(parent, component)).first;
    HeldFolder folder = HeldFolder::Open(parent, made->second);
    if (!folder.valid()) throw WriteFailure(errno, prefix);
    return folder;
  }

  static std::string MakeFree(int parent, const std::string& component) {
    for (int number = 1; number <= kMaxNumber; ++number) {
      std::string name = CandidateName(component, number);
      if (fs::MakeFolder(parent, name) == 0) return name;
      if (errno != EEXIST) throw WriteFailure(errno, component);
    }
    throw WriteFailure(EEXIST, component);
  }

  int root_;
  std::map<std::string, std::string> made_;  // folder path -> its name in its parent
  std::string open_path_;                    // the folder held in open_
  HeldFolder open_;
};

std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

// A new file for `name` in `folder`, numbered when the name is taken.
UniqueFd CreateFree(int folder, const std::string& name) {
  for (int number = 1; number <= kMaxNumber; ++number) {
    UniqueFd file(fs::CreateExclusive(folder, CandidateName(name, number), kFileMode));
    if (file.valid()) return file;
    if (errno != EEXIST) throw WriteFailure(errno, name);
  }
  throw WriteFailure(EEXIST, name);
}

void WriteFileEntry(ZipArchive& archive, std::size_t index, const std::string& password,
                    FolderTree& tree) {
  const auto [folder, name] = SplitPath(archive.entries()[index].name);
  const UniqueFd file = CreateFree(tree.Open(folder), name);
  archive.WriteEntry(index, file.get(), password);
  // Linux puts the whole file system on disk when the folder is placed.
  if (FilesFlushedOneByOne() && fs::FlushFile(file.get()) != 0) {
    throw WriteFailure(errno, name);
  }
}

}  // namespace

std::string UnpackArchive(ZipArchive& archive, const std::string& password,
                          DestinationFolder& destination, const std::string& folder_name) {
  PartialFolder partial(destination);
  {
    FolderTree tree(partial.fd());
    for (std::size_t i = 0; i < archive.entries().size(); ++i) {
      const ZipEntry& entry = archive.entries()[i];
      if (entry.folder) {
        tree.Open(entry.name);
      } else {
        WriteFileEntry(archive, i, password, tree);
      }
    }
  }
  return partial.Place(folder_name);
}

}  // namespace qm
