#pragma once
// A local Maildir as the mailbox: messages are the files of cur/ and new/,
// keyed by the unique part of their names so that a message renamed by another
// client (a flag change, new/ to cur/) is found again. cur/ and new/ are held
// open for the store's life, and every file is reached relative to them
// (base/FileSystem.h); on Windows nobody can rename or remove them meanwhile.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/UniqueFd.h"
#include "store/MailStore.h"

namespace qm {

class MaildirStore : public MailStore {
 public:
  // Throws Failure(SignOn) when `folder` has no cur/ and new/ (links to
  // folders are not taken for them).
  explicit MaildirStore(std::filesystem::path folder);

  std::size_t List() override;
  bool IsRead(std::size_t index) override;
  RawHeaders Headers(std::size_t index) override;
  std::string Describe(std::size_t index) const override;
  UniqueFd OpenMessage(std::size_t index, int spool_folder) override;
  void QueueReadMark(std::size_t index) override;
  void DropReadMark(std::size_t index) override;
  void CommitReadMarks() override;

 private:
  // Kept small: an inbox may hold hundreds of thousands of messages.
  struct Entry {
    std::string name;   // file name when listed: unique part, then the info and flags
    std::int64_t time;  // delivery time, for the order of the list
    bool in_new = false;
  };

  const Entry& At(std::size_t index) const;
  int HeldFolderOf(const Entry& entry) const { return entry.in_new ? new_.get() : cur_.get(); }
  std::filesystem::path PathOf(const Entry& entry) const;
  void ListInto(bool in_new, std::vector<Entry>& found) const;
  // Where the message keyed `unique` is now (its time left 0), or nothing
  // when it is gone.
  std::optional<Entry> Locate(const std::string& unique) const;
  void MarkRead(const Entry& entry);
  bool RefusedColon(int error, const Entry& from, char separator) const;

  std::filesystem::path folder_;
  UniqueFd cur_;
  UniqueFd new_;
  std::vector<Entry> entries_;
  std::vector<Entry> queued_;  // the messages to mark read at the commit
  char separator_ = ':';       // before the info of a name that had none
};

}  // namespace qm
