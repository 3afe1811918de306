#pragma once
// A local Maildir as the mailbox: messages are the files of cur/ and new/,
// keyed by the unique part of their names so that a message renamed by another
// client (a flag change, new/ to cur/) is found again.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "mail/MailStore.h"

namespace qm {

class MaildirStore : public MailStore {
 public:
  // Throws Failure(SignOn) when `folder` has no cur/ and new/.
  explicit MaildirStore(std::filesystem::path folder);

  std::size_t List() override;
  bool IsRead(std::size_t index) override;
  RawHeaders Headers(std::size_t index) override;
  UniqueFd OpenMessage(std::size_t index, const std::filesystem::path& scratch_folder) override;
  void QueueReadMark(std::size_t index) override;
  void CommitReadMarks() override;

 private:
  struct Entry {
    std::filesystem::path path;  // where the file was when listed
    std::string unique;          // the name before ":2,"
    std::string flags;           // after ":2,"; empty in new/
    bool in_new = false;
  };

  const Entry& At(std::size_t index) const;
  // The current path of the message keyed `unique`, or nothing when it is gone.
  std::optional<std::filesystem::path> Locate(const std::string& unique) const;
  void MarkRead(const Entry& entry) const;

  std::filesystem::path folder_;
  std::vector<Entry> entries_;
  std::vector<Entry> queued_;  // the messages to mark read at the commit
};

}  // namespace qm
