#pragma once
// Gives a finished hidden file in the destination folder its final name
// without ever replacing a file there, on whatever file system the folder
// is. Three ways, tried in this order once per scan on the folder itself,
// since file systems and mounts differ in what they offer and do not say:
// - a rename that refuses to replace (ext4, xfs, btrfs, tmpfs, vfat);
// - a hard link to the final name, then removing the hidden one (NFS);
// - reserving the final name by creating it empty and exclusively, then
//   renaming the file over the reservation, with every reservation written
//   down first so that one a killed run left empty is removed by the next
//   scan (exFAT, FAT through FUSE, SMB and FUSE mounts of many servers).
// Each keeps the same promises: nothing is replaced, and a final name never
// holds part of a file.

#include <functional>
#include <memory>
#include <string>

#include "save/ReservationJournal.h"

namespace qm {

class NoReplacePlacement {
 public:
  enum class Method { kRenameNoReplace, kHardLink, kReservation };

  // Finds the first way that works in the folder `dir` (shown to the user as
  // `path`), with probe files named by `new_hidden_name`. Throws
  // Failure(Destination) when none works. `journal_name` names the journal
  // of reservations in the folder.
  NoReplacePlacement(int dir, const std::string& path,
                     const std::function<std::string()>& new_hidden_name, std::string journal_name);

  Method method() const { return method_; }

  // Renames `from` in the folder `from_dir` (the folder itself, or a folder
  // in it on the same file system) to `to` in the folder, unless a file named
  // `to` exists. Returns 0, EEXIST when `to` is taken, or another errno value.
  int Rename(int from_dir, const std::string& from, const std::string& to);

  // The same for the folder `from`: where a rename cannot refuse to
  // replace, the name is reserved as an empty folder (written down first,
  // as a file's reservation is), which the rename then replaces: an empty
  // folder is what a rename of a folder may replace.
  int RenameFolder(int from_dir, const std::string& from, const std::string& to);

  // Every file renamed so far is placed: reservations need no undoing now.
  void Settled();

 private:
  ReservationJournal& Journal();

  int dir_;
  std::string journal_name_;
  Method method_ = Method::kRenameNoReplace;
  // For kReservation; made for the other methods when a folder's name is reserved.
  std::unique_ptr<ReservationJournal> journal_;
};

}  // namespace qm
