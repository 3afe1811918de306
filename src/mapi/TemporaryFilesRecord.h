#pragma once
// The mail program writes each attachment it hands over into a temporary
// file of its own, which the program removes once it has copied it. Their
// paths are kept in a small file of the user's own until then, so that the
// files a killed run leaves behind are removed by the next run.

#include <filesystem>
#include <string>
#include <vector>

namespace qm {

class TemporaryFilesRecord {
 public:
  // `file` is the record; "" keeps none (nothing a killed run leaves is
  // removed then).
  explicit TemporaryFilesRecord(std::filesystem::path file);
  TemporaryFilesRecord(TemporaryFilesRecord&&) = default;
  TemporaryFilesRecord& operator=(TemporaryFilesRecord&&) = default;

  // Removes every file the record names (only plain files: never a folder
  // or a link), keeping in it those that cannot be removed yet.
  void RemoveRecorded();

  // Adds `paths` to the record before the files are used.
  void Add(const std::vector<std::filesystem::path>& paths);

 private:
  std::filesystem::path file_;
};

// Removes `path` when it is a plain file (not a folder, not a link); true
// when nothing is left there.
bool RemoveTemporaryFile(const std::filesystem::path& path);

}  // namespace qm
