#pragma once
// The session's private folder (mode 0700) under the system's temporary folder,
// where attachment files are written before they are saved. Removed with
// everything in it when the object goes; folders of earlier runs that were
// killed are removed when a new one is made.

#include <filesystem>
#include <memory>

namespace qm {

class ScratchFolder {
 public:
  static std::unique_ptr<ScratchFolder> Create();  // throws Failure
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  explicit ScratchFolder(std::filesystem::path path) : path_(std::move(path)) {}
  std::filesystem::path path_;
};

}  // namespace qm
