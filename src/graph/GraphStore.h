#pragma once
// A Microsoft 365 mailbox read through Microsoft Graph. The listing pages
// through the inbox with only the fields the selection needs; each message
// the scan opens is fetched whole as MIME ($value), so that every rule of
// the MIME walk applies as for IMAP. Messages are fetched ahead of the scan
// into unnamed files of the spool folder: small ones (by the size the
// listing gives) twenty to a $batch request, which Graph serves as one
// round trip; others on their own, several at once. Fetching never marks a
// message read; the marks are sent at the commit, twenty to a $batch
// request.
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
  // Messages asked for and not yet opened by the scan, at most (two
  // batches: one arriving while the scan works on the other); a batch more
  // when the scan waits for one. Of them, kLargeAhead at most are too large
  // for a batch, so that the files waiting in the spool folder stay few.
  static constexpr std::size_t kMessagesAhead = 40;
  static constexpr std::size_t kLargeAhead = 12;
  // A message fetched in a batch is at most this large, a batch's messages
  // together at most kBatchBytes.
  static constexpr std::uint64_t kLargestBatched = std::uint64_t{512} << 10;
  static constexpr std::uint64_t kBatchBytes = std::uint64_t{4} << 20;
  // Fewer small messages in a row than this are fetched on their own: as
  // many as Graph serves at once take one round trip without holding up
  // the rest as a batch does.
  static constexpr std::size_t kLeastBatched = 5;
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
  static constexpr std::uint32_t kUnknownSize = 0x7fff'ffff;

  // One listed message, kept small: the end of the id, the subject, the
  // sender name and address share one string; the size (kUnknownSize when
  // the listing had none, or one that large) and the read flag share a
  // word. Exchange's ids of one folder share a long start (the mailbox and
  // the folder, about a hundred of their hundred and fifty characters): an
  // entry keeps only how much of the first listed id its own starts with.
  struct Entry {
    std::string fields;
    std::uint32_t subject_at = 0;
    std::uint32_t name_at = 0;
    std::uint32_t address_at = 0;
    std::uint32_t size : 31 = kUnknownSize;
    std::uint32_t read : 1 = 0;
    std::uint16_t id_shared = 0;  // of the first listed id

    std::string_view Field(std::size_t begin, std::size_t end) const {
      return std::string_view(fields).substr(begin, end - begin);
    }
  };
  // A message asked for and not yet opened.
  struct Fetch {
    std::uint64_t tag = 0;  // the request that carries it (its own or a batch); 0 once it came
    UniqueFd body;          // the message's file
    long status = 0;        // of its answer, once it came
    std::string error;      // the body of an error answer
  };
  // The next small messages of the plan for a batch; `whole` unless the
  // budget cut it short.
  struct Run {
    std::vector<std::size_t> indexes;
    std::uint64_t bytes = 0;
    bool whole = true;
  };

  std::string MailboxPath() const;
  std::string MailboxUrl() const;
  void AddPage(const std::string& url, std::string& next);
  bool IsBatched(std::size_t index) const;
  std::size_t LargeAhead() const;
  void DropAskedFromPlan();
  Run NextRun(std::size_t budget) const;
  bool StartNext(bool needed_now);
  void FetchAhead();
  void AskFor(std::size_t index);
  void RequestValue(std::size_t index);
  void RequestBatch(const Run& run);
  void Settle(GraphReply reply);
  void SettleBatch(const std::vector<std::size_t>& indexes, GraphReply reply);
  void Arrived(Fetch& fetch, const std::string& bytes);
  void DropFetches();
  void SendReadMarks(std::vector<std::string> ids);
  const Entry& At(std::size_t index) const;
  std::string IdOf(std::size_t index) const;

  std::unique_ptr<GraphConnection> connection_;
  GraphMailbox mailbox_;
  const Cancellation* cancel_;
  int spool_folder_ = -1;
  // A deque: a listing of a hundred thousand grows without copying itself.
  std::deque<Entry> entries_;
  std::string first_id_;  // of the listing: the start the ids share
  std::deque<std::size_t> plan_;
  std::unordered_map<std::size_t, Fetch> fetches_;  // by index: asked for, not yet opened
  // The requests under way, by tag: the messages each carries.
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> requests_;
  std::uint64_t batch_tag_ = 0;   // the batch under way: no other request is meanwhile
  std::set<std::size_t> queued_;  // to mark read at the commit
};

}  // namespace qm
