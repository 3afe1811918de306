#pragma once
// A mailbox on an IMAP server, spoken to over an already logged-in transport.
// Messages are keyed by UID. The listing fetches UID, flags, size, structure
// and the Subject and From header fields of every message in one command,
// and keeps the start of each field (ListedHeaders.h).
// Whole messages are fetched ahead of the scan, several at once (each its
// own pipelined command), within a budget of messages and bytes, and
// streamed into unlinked files of the spool folder; a message whose structure
// shows it can hold no file is not fetched at all. Every fetch uses
// BODY.PEEK, so reading never marks a message read; marks are stored in
// batches at the commit. The stream is compressed when the server agrees.
//
// The session's download-new-mail flag has no effect on this store: the
// server holds the mail, and every List() asks it afresh.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "imap/ImapConnection.h"
#include "imap/ImapTransport.h"
#include "imap/SpoolSink.h"
#include "store/MailStore.h"

namespace qm {

class ImapStore : public MailStore {
 public:
  // Ranges per UID STORE command, which keeps each command line well below
  // the line lengths servers accept.
  static constexpr std::size_t kRangesPerCommand = 250;
  // Fetches under way or done and not yet opened by the scan, at most: in
  // messages, and in bytes by the sizes the listing gave.
  static constexpr std::size_t kMessagesAhead = 64;
  static constexpr std::uint64_t kBytesAhead = std::uint64_t{32} << 20;

  // `mailbox` is the UTF-8 name of the mailbox to scan, e.g. "INBOX". With
  // `compress`, COMPRESS=DEFLATE is asked for before the first listing.
  ImapStore(std::unique_ptr<ImapTransport> transport, std::string mailbox, bool compress = true);
  // Logs out, best effort: never throws, and waits no longer than the
  // transport's idle timeout allows for a handful of responses.
  ~ImapStore() override;

  std::size_t List() override;
  bool IsRead(std::size_t index) override;
  RawHeaders Headers(std::size_t index) override;
  std::string Describe(std::size_t index) const override;
  bool FetchesAhead() const override { return true; }
  void WillOpen(const std::vector<std::size_t>& indexes) override;
  bool HoldsNoFile(std::size_t index) const override;
  UniqueFd OpenMessage(std::size_t index, int spool_folder) override;
  void QueueReadMark(std::size_t index) override;
  void DropReadMark(std::size_t index) override;
  void CommitReadMarks() override;

 private:
  // One message of the listing, kept small: a mailbox may hold hundreds of
  // thousands. Subject and From share one string.
  struct Entry {
    std::uint32_t uid = 0;
    bool read = false;
    bool may_hold_file = true;
    bool listed = false;  // the header fields came: the message is in the listing
    std::uint32_t from_at = 0;
    std::uint64_t size = 0;
    std::string headers;  // the subject, then the sender

    void SetHeaders(const RawHeaders& raw) {
      headers = raw.subject + raw.from;
      from_at = static_cast<std::uint32_t>(raw.subject.size());
    }
  };
  // A message fetched ahead: under way until `done`.
  struct Fetch {
    std::uint64_t size = 0;
    bool done = false;
    UniqueFd body;        // the message, once it came
    std::string refusal;  // the server's NO, when it refused it
  };

  void AddToListing(const ImapResponse& response, bool& in_order);
  void FinishListing(bool in_order);
  void MergeListing();
  void Request(const Entry& entry);
  void FetchAhead();
  void OnData(const ImapResponse& response);
  void ForgetFetches();
  const Entry& At(std::size_t index) const;

  ImapConnection connection_;
  SpoolSink spool_;
  int spool_folder_ = -1;  // as the scan last gave it
  std::string mailbox_;
  bool compression_tried_;
  std::optional<std::uint64_t> uid_validity_;
  std::vector<Entry> entries_;
  std::deque<std::size_t> plan_;                      // indexes the scan will open, in order
  std::unordered_set<std::uint32_t> requested_;       // UIDs asked for since the listing
  std::unordered_map<std::uint32_t, Fetch> fetches_;  // asked for and not yet opened
  std::uint64_t bytes_ahead_ = 0;
  std::set<std::uint32_t> queued_;  // UIDs to mark read at the commit
};

}  // namespace qm
