#pragma once
// A Microsoft 365 mailbox read through Microsoft Graph. The listing pages
// through the inbox with only the fields the selection needs; each message
// the scan opens is fetched whole as MIME ($value), so that every rule of
// the MIME walk applies as for IMAP. Messages are fetched ahead of the scan,
// several at once, into unnamed files of the spool folder. Fetching never
// marks a message read; the marks are sent at the commit, twenty to a
// $batch request.
//
// Exchange's hasAttachments is false for a message whose files are inline
// (a document some mailers send so) or uuencoded into its text, so every
// selected message is fetched: a missed file costs more than a download.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/UniqueFd.h"
#include "graph/GraphConnection.h"
#include "store/MailStore.h"

namespace qm {

struct GraphMailbox {
  std::string api_root = "https://graph.microsoft.com/v1.0";
  // Empty: the signed-in user's own mailbox; else a mailbox it may read.
  std::string shared_address{};
};

class GraphStore : public MailStore {
 public:
  // Messages asked for and not yet opened by the scan, at most.
  static constexpr std::size_t kMessagesAhead = 12;
  static constexpr std::size_t kPageSize = 1000;
  static constexpr std::size_t kMaxMessages = 1'000'000;
  // Exchange Online takes messages of up to 150 MB; a larger answer is no
  // message of it.
  static constexpr std::uint64_t kMaxMessageBytes = std::uint64_t{200} << 20;

  GraphStore(std::unique_ptr<GraphConnection> connection, GraphMailbox mailbox,
             const Cancellation* cancel = nullptr);
  ~GraphStore() override;

  std::size_t List() override;
  bool IsRead(std::size_t index) override;
  Envelope ReadEnvelope(std::size_t index) override;
  std::string Describe(std::size_t index) const override;
  bool FetchesAhead() const override { return true; }
  void WillOpen(const std::vector<std::size_t>& indexes) override;
  UniqueFd OpenMessage(std::size_t index, int spool_folder) override;
  void QueueReadMark(std::size_t index) override;
  void DropReadMark(std::size_t index) override;
  void CommitReadMarks() override;

  const GraphConnection& connection() const { return *connection_; }

 private:
  // One listed message, kept small: the id, subject, sender name and
  // address share one string.
  struct Entry {
    std::string fields;
    std::uint32_t subject_at = 0;
    std::uint32_t name_at = 0;
    std::uint32_t address_at = 0;
    bool read = false;

    std::string_view Field(std::size_t begin, std::size_t end) const {
      return std::string_view(fields).substr(begin, end - begin);
    }
    std::string_view id() const { return Field(0, subject_at); }
  };
  struct Fetch {
    std::uint64_t tag = 0;
    UniqueFd body;
  };

  std::string MailboxPath() const;
  std::string MailboxUrl() const;
  void AddPage(const std::string& url, std::string& next);
  void Request(std::size_t index);
  void FetchAhead();
  void SendReadMarks(std::vector<std::string> ids);
  const Entry& At(std::size_t index) const;

  std::unique_ptr<GraphConnection> connection_;
  GraphMailbox mailbox_;
  const Cancellation* cancel_;
  int spool_folder_ = -1;
  std::vector<Entry> entries_;
  std::deque<std::size_t> plan_;
  std::unordered_map<std::size_t, Fetch> fetches_;  // by index: asked for, not yet opened
  std::set<std::size_t> queued_;                    // to mark read at the commit
};

}  // namespace qm
