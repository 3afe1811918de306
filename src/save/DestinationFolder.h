#pragma once
// The destination folder of one scan. A file handed to it moves into the
// folder under a hidden name at once and gets its final name in a batch: once
// the batch's files are completely written, their bytes are put on disk (see
// BatchOnDisk.h: one flush of the file system on Linux), and only then are
// they renamed. So a file never sits under its final name before its bytes
// are on disk, and on Linux a scan does not wait for the disk once per file.
// Batches are flushed and renamed on a thread of their own, one at a time and
// in the order the files came, while the scan goes on.
//
// Final names never replace anything, on whatever file system the folder is
// (see NoReplacePlacement.h): a file lands under its own name, or
// under the first free "name (n).ext" when a different file has that name. A
// file that already holds the very same bytes under one of those names is
// kept and the new copy dropped. A file that cannot be given a name at all
// (no free number left, a name the file system refuses) is not a failure of
// the scan: it is removed and listed in unplaced(), so that its message is
// left unread and reported.
//
// Everything inside the folder is reached through its descriptor, and the
// files wait in a private work folder reached through a descriptor of its
// own: a folder that others may write into cannot redirect them.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "save/DestinationFile.h"
#include "save/EndedRun.h"
#include "save/HeldFolder.h"
#include "save/NoReplacePlacement.h"
#include "save/TakenNames.h"

namespace qm {

// A file that was given its name in the folder (not a copy left out).
struct PlacedFile {
  std::int64_t message;  // as given to Add
  std::string asked;     // the name asked for
  std::string name;      // its final name in the folder
  FileIdentity identity;
};

// A file that could not be given a name in the folder.
struct UnplacedFile {
  std::int64_t message;  // as given to Add
  std::string name;      // the name asked for
  std::string reason;
};

class DestinationFolder {
 public:
  // Checks that files can be created in `path` (Failure of kind Destination
  // otherwise) and removes hidden files that ended runs of this user on this
  // host left in it (see RunNames).
  // A file may be added while another thread still writes it: then
  // `wait_for_writes` returns once every file added so far is complete, or
  // throws when one could not be written. It is called before each flush.
  // Without it, every file must be complete when it is added.
  // Numbered names go up to `max_name_number`.
  explicit DestinationFolder(const std::string& path,
                             std::function<void()> wait_for_writes = nullptr,
                             int max_name_number = kMaxNameNumber);
  // Gives what is still waiting its final name, as far as that is possible.
  ~DestinationFolder();
  DestinationFolder(const DestinationFolder&) = delete;
  DestinationFolder& operator=(const DestinationFolder&) = delete;

  // The hidden folder, in the destination folder itself, where the scan
  // writes attachment files before it adds them: held open, private to this
  // user. It goes with this object.
  const HeldFolder& work_folder() const { return work_; }
  // Its path, to show.
  const std::filesystem::path& work_folder_path() const { return work_path_; }

  // Takes over `file`, written into the work folder, to be saved as `name`, a
  // plain file name; `message` tells whose file it is in unplaced(). Throws
  // FileFailure, also when the file is no longer the one written.
  void Add(const WrittenFile& file, const std::string& name, std::int64_t message = -1);

  // Gives every waiting file its final name and makes the folder's entries
  // lasting; after it, everything added is on disk under its final name,
  // or listed in unplaced().
  void Commit();

  // The files that got no name; complete once Commit has returned.
  const std::vector<UnplacedFile>& unplaced() const { return unplaced_; }
  // The files that got their name, in the order they got it; complete once
  // Commit has returned.
  const std::vector<PlacedFile>& placed() const { return placed_; }

  // The destination folder itself, held open since the scan began.
  int fd() const { return dir_.get(); }

  // Makes an empty folder in the work folder for files that are to be
  // placed together (an unpacked archive); returns its name there.
  std::string MakeWorkSubfolder();

  // Gives the folder `folder` of the work folder, whose files are complete
  // (and, where FilesFlushedOneByOne() says so, each flushed), the name `name` in
  // the destination, or the first free "name (n)": its files go to disk
  // first, then the folder is renamed as a whole, so it never shows under
  // its final name half-filled. Call after Commit. Returns the name given;
  // throws FileFailure(FileWrite) when none is free or the rename fails.
  std::string PlaceFolder(const std::string& folder, const std::string& name);

 private:
  struct Waiting {
    std::string hidden;  // its path in the work folder while waiting
    std::string name;    // name asked for
    std::int64_t size;   // as last seen: a file may grow until its writer is done
    FileIdentity identity;
    std::int64_t message;
  };

  void Wait(std::string hidden, const std::string& name, std::int64_t message);
  std::string NewHiddenName();
  void LearnOwnOwner();
  void MakeWorkFolder();
  void RemoveWorkFolder();
  void RemoveLeftovers();
  void RemoveLeftoverFolder(const std::string& name);
  void RemoveHeldFolder(HeldFolder folder, const std::string& name) const;
  void CheckStillInPlace() const;
  bool BatchIsFull() const;
  bool TooMuchWaiting() const;
  void HandOver(bool wait);
  void PlaceAllWaiting();
  void PlaceBatch(std::deque<Waiting> batch);
  bool Place(const Waiting& file);
  bool DropIfCopy(const Waiting& file, const std::vector<int>& numbers);

  std::string path_;
  std::function<void()> wait_for_writes_;
  int max_name_number_;
  RunNames runs_;
  UniqueFd dir_;
  fs::EntryIdentity identity_;  // of the folder, when the scan began
  fs::OwnerId own_owner_;       // the owner the folder's file system gives this user's files
  std::string hidden_prefix_;
  std::string work_name_;  // the work folder's name in the folder
  HeldFolder work_;
  std::filesystem::path work_path_;
  std::mt19937 random_;
  std::deque<Waiting> waiting_;
  std::int64_t waiting_bytes_ = 0;
  std::chrono::steady_clock::time_point first_waiting_;
  std::optional<NoReplacePlacement> placement_;  // how final names are given here
  std::future<void> in_flight_;                  // the batch being flushed and renamed
  TakenNames taken_;                             // used by one batch at a time
  std::vector<UnplacedFile> unplaced_;           // written by the batches
  std::vector<PlacedFile> placed_;               // written by the batches
};

}  // namespace qm
