#pragma once
// A mailbox on an IMAP server, spoken to over an already logged-in transport.
// Messages are keyed by UID; the listing fetches UID, flags and the Subject
// and From header fields of every message in one command, and whole messages
// are streamed into unlinked spool files. Every fetch uses BODY.PEEK, so
// reading never marks a message read; marks are stored in batches at the
// commit.
//
// The session's download-new-mail flag has no effect on this store: the
// server holds the mail, and every List() asks it afresh.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mail/imap/ImapParser.h"
#include "mail/imap/ImapTransport.h"
#include "mail/store/MailStore.h"

namespace qm {

class ImapStore : public MailStore {
 public:
  // Ranges per UID STORE command, which keeps each command line well below
  // the line lengths servers accept.
  static constexpr std::size_t kRangesPerCommand = 250;

  // `mailbox` is the UTF-8 name of the mailbox to scan, e.g. "INBOX".
  ImapStore(std::unique_ptr<ImapTransport> transport, std::string mailbox);
  // Logs out, best effort: never throws, and waits no longer than the
  // transport's idle timeout allows for a handful of responses.
  ~ImapStore() override;

  std::size_t List() override;
  bool IsRead(std::size_t index) override;
  RawHeaders Headers(std::size_t index) override;
  std::string Describe(std::size_t index) const override;
  UniqueFd OpenMessage(std::size_t index, const std::filesystem::path& spool_folder) override;
  void QueueReadMark(std::size_t index) override;
  void DropReadMark(std::size_t index) override;
  void CommitReadMarks() override;

 private:
  struct Entry {
    std::uint32_t uid = 0;
    bool read = false;
    RawHeaders headers;
  };
  using DataHandler = std::function<void(const ImapResponse&)>;

  // Sends one command and reads every response up to its tagged completion,
  // which it returns. Untagged responses update the mailbox state, then go to
  // `on_data`. A BYE, a stray tag or a broken stream throws.
  ImapResponse Run(const std::string& command, const DataHandler& on_data);
  void Track(const ImapResponse& response);
  void Select();
  void FetchHeaders();
  void Logout();
  const Entry& At(std::size_t index) const;

  std::unique_ptr<ImapTransport> transport_;
  ImapParser parser_;
  std::string mailbox_;
  unsigned next_tag_ = 1;
  std::uint32_t exists_ = 0;  // messages in the selected mailbox, as last announced
  std::optional<std::uint64_t> uid_validity_;
  std::vector<Entry> entries_;
  std::set<std::uint32_t> queued_;  // UIDs to mark read at the commit
  bool broken_ = false;             // the stream is out of step or closed: say nothing more
};

}  // namespace qm
