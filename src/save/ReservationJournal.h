#pragma once
// Final names reserved in the destination folder on file systems that offer
// neither a rename that refuses to replace nor hard links (exFAT, FAT through
// FUSE, many SMB and FUSE mounts). There a name is taken by creating it empty
// and exclusively, and the finished hidden file is then renamed over it.
// A run killed between the two would leave an empty file under a final
// name: every reservation is written down first, in a hidden journal of the
// run, so that the next scan removes the reservations that a run which has
// ended left empty. A journal is only believed when it is ours (this user's,
// named by a run of this host), and only for plain names in its own folder.

#include <string>

#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "save/EndedRun.h"

namespace qm {

class ReservationJournal {
 public:
  // The journal is the file `name` in the folder `dir`, made on first use.
  ReservationJournal(int dir, std::string name);
  // Removes the journal: whatever was reserved is placed or was given up.
  ~ReservationJournal();
  ReservationJournal(const ReservationJournal&) = delete;
  ReservationJournal& operator=(const ReservationJournal&) = delete;

  // Creates the empty file `name` unless a file of that name exists.
  // Returns 0, EEXIST when the name is taken, or another errno value.
  int Reserve(const std::string& name);

  // The same for a folder: creates the empty folder `name` unless an entry
  // of that name exists.
  int ReserveFolder(const std::string& name);

  // Every reservation so far has become a placed file: forget them.
  void Clear();

  // Reads the journals of ended runs (named "<run prefix>journal", see
  // RunNames) that belong to `owner` (this user, as the folder's file system
  // shows it), removes the reservations of that owner they left empty (files
  // and folders), then the journals.
  static void RemoveAbandoned(int dir, const RunNames& runs, const fs::OwnerId& owner);

  // The journal's name for the run `run`.
  static std::string NameFor(const RunNames& run);

 private:
  void Append(char mark, const std::string& name);

  int dir_;
  std::string name_;
  UniqueFd journal_;
};

}  // namespace qm
