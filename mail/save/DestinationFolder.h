#pragma once
// The destination folder of one scan. A file handed to it moves into the
// folder under a hidden name at once and gets its final name in a batch: once
// the batch's files are completely written, one flush of the file system puts
// their bytes on disk, and only then are they renamed. So a file never sits
// under its final name before its bytes are on disk, and a scan does not wait
// for the disk once per file.
// Batches are flushed and renamed on a thread of their own, one at a time and
// in the order the files came, while the scan goes on.
//
// Final names never replace anything, on whatever file system the folder is
// (see NoReplacePlacement.h): a file lands under its own name, or
// under the first free "name (n).ext" when a different file has that name. A
// file that already holds the very same bytes under one of those names is
// kept and the new copy dropped.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "frame/settings/UniqueFd.h"
#include "mail/save/NoReplacePlacement.h"

namespace qm {

class DestinationFolder {
 public:
  // Checks that files can be created in `path` (Failure of kind Destination
  // otherwise) and removes hidden files that killed runs left in it.
  // A file may be added while another thread still writes it: then
  // `wait_for_writes` returns once every file added so far is complete, or
  // throws when one could not be written. It is called before each flush.
  // Without it, every file must be complete when it is added.
  explicit DestinationFolder(const std::string& path,
                             std::function<void()> wait_for_writes = nullptr);
  // Gives what is still waiting its final name, as far as that is possible.
  ~DestinationFolder();
  DestinationFolder(const DestinationFolder&) = delete;
  DestinationFolder& operator=(const DestinationFolder&) = delete;

  // The hidden folder, in the destination folder itself, where the scan
  // writes attachment files before it adds them. It goes with this object.
  const std::filesystem::path& work_folder() const { return work_folder_; }

  // Takes over the file `source` (it is gone from where it was) to be saved as
  // `name`, a plain file name: a file of the work folder stays where it is
  // until it gets its name, any other is moved or copied in first. Throws
  // FileFailure.
  void Add(const std::filesystem::path& source, const std::string& name);

  // Gives every waiting file its final name and makes the folder's entries
  // lasting; after it, everything added is on disk under its final name.
  void Commit();

 private:
  struct Waiting {
    std::string hidden;  // name in the folder while waiting (maybe in the work folder)
    std::string name;    // name asked for
    off_t size;          // as last seen: a file may grow until its writer is done
  };

  std::string MoveIn(const std::filesystem::path& source, dev_t source_device);
  std::string CopyIn(const std::filesystem::path& source);
  std::string NewHiddenName();
  void MakeWorkFolder();
  void RemoveWorkFolder(const std::string& name) const;
  std::optional<std::string> InWorkFolder(const std::filesystem::path& source) const;
  void RemoveLeftovers();
  void CheckStillInPlace() const;
  bool BatchIsFull() const;
  bool TooMuchWaiting() const;
  void HandOver(bool wait);
  void PlaceBatch(std::deque<Waiting> batch);
  std::string Place(const Waiting& file);

  std::string path_;
  std::function<void()> wait_for_writes_;
  UniqueFd dir_;
  dev_t device_;
  ino_t inode_;
  std::string hidden_prefix_;
  std::string work_name_;              // the work folder's name in the folder
  std::filesystem::path work_folder_;  // and its path
  std::mt19937 random_;
  std::deque<Waiting> waiting_;
  off_t waiting_bytes_ = 0;
  std::chrono::steady_clock::time_point first_waiting_;
  std::optional<NoReplacePlacement> placement_;  // how final names are given here
  std::future<void> in_flight_;                  // the batch being flushed and renamed
  // Used by one batch at a time. Per name asked for: the sizes of "name", "name (2)", ... known to
  // exist in the folder, in number order (-1: not a regular file).
  std::unordered_map<std::string, std::vector<off_t>> taken_;
};

}  // namespace qm
