#include "graph/GraphStore.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/Cancellation.h"
#include "base/SocketWait.h"
#include "graph/GraphErrors.h"
#include "graph/GraphListing.h"
#include "graph/GraphReadMarks.h"
#include "text/PercentEncoding.h"

namespace qm {
namespace {

// Rounds of a batch whose marks were throttled, and the longest wait
// between them, before the marks are given up (the messages stay unread
// and their files are found in the folder next time).
constexpr int kReadMarkRounds = 5;
constexpr std::chrono::seconds kLongestReadMarkWait{120};

std::uint32_t Offset(std::size_t size) {
  if (size > std::numeric_limits<std::uint32_t>::max()) throw InternalFailure("listing entry");
  return static_cast<std::uint32_t>(size);
}

// How many leading characters `id` shares with `first`, as an entry keeps it.
std::uint16_t SharedStart(const std::string& first, const std::string& id) {
  const std::size_t most = std::min({first.size(), id.size(), std::size_t{0xffff}});
  std::size_t shared = 0;
  while (shared < most && first[shared] == id[shared]) ++shared;
  return static_cast<std::uint16_t>(shared);
}

bool IsSuccess(long status) { return status >= 200 && status < 300; }

}  // namespace

GraphStore::GraphStore(std::unique_ptr<GraphConnection> connection, GraphMailbox mailbox,
                       const Cancellation* cancel)
    : connection_(std::move(connection)), mailbox_(std::move(mailbox)), cancel_(cancel) {
  while (mailbox_.api_root.ends_with('/')) mailbox_.api_root.pop_back();
}

GraphStore::~GraphStore() = default;

std::string GraphStore::MailboxPath() const {
  return mailbox_.shared_address.empty() ? "/me"
                                         : "/users/" + PercentEncoded(mailbox_.shared_address);
}

std::string GraphStore::MailboxUrl() const { return mailbox_.api_root + MailboxPath(); }

void GraphStore::AddPage(const std::string& url, std::string& next) {
  const GraphReply reply = connection_->Call({"GET", url});
  if (!IsSuccess(reply.status)) {
    throw MailboxRequestFailure("listing the inbox", reply.status, reply.body);
  }
  ListingPage page = ParseListingPage(reply.body, mailbox_.api_root);
  if (entries_.size() + page.messages.size() > kMaxMessages) {
    throw Failure(FailureKind::MailStore, Cause::kMailServer,
                  "the inbox lists more than " + std::to_string(kMaxMessages) + " messages");
  }
  for (ListedMessage& message : page.messages) {
    Entry entry;
    if (entries_.empty()) first_id_ = message.id;
    entry.id_shared = SharedStart(first_id_, message.id);
    entry.fields = message.id.substr(entry.id_shared);
    entry.subject_at = Offset(entry.fields.size());
    entry.fields += message.subject;
    entry.name_at = Offset(entry.fields.size());
    entry.fields += message.sender_name;
    entry.address_at = Offset(entry.fields.size());
    entry.fields += message.sender_address;
    entry.fields.shrink_to_fit();
    if (message.size && *message.size < kUnknownSize) {
      entry.size = static_cast<std::uint32_t>(*message.size);
    }
    entry.read = message.read ? 1 : 0;
    entries_.push_back(std::move(entry));
  }
  next = std::move(page.next_link);
}

std::size_t GraphStore::List() {
  DropFetches();
  entries_.clear();
  first_id_.clear();
  std::string next = MailboxUrl() + "/mailFolders/inbox/messages" + ListingQuery(kPageSize);
  while (!next.empty()) {
    const std::string url = std::move(next);
    AddPage(url, next);
  }
  return entries_.size();
}

const GraphStore::Entry& GraphStore::At(std::size_t index) const {
  if (index >= entries_.size()) throw InternalFailure("message index out of range");
  return entries_[index];
}

std::string GraphStore::IdOf(std::size_t index) const {
  const Entry& entry = At(index);
  return first_id_.substr(0, entry.id_shared) + std::string(entry.Field(0, entry.subject_at));
}

bool GraphStore::IsRead(std::size_t index) { return At(index).read != 0; }

Envelope GraphStore::ReadEnvelope(std::size_t index) {
  const Entry& entry = At(index);
  return {std::string(entry.Field(entry.subject_at, entry.name_at)),
          std::string(entry.Field(entry.name_at, entry.address_at)),
          std::string(entry.Field(entry.address_at, entry.fields.size()))};
}

std::string GraphStore::Describe(std::size_t index) const {
  const Entry& entry = At(index);
  const std::string_view subject = entry.Field(entry.subject_at, entry.name_at);
  // The end of the id is the message's own; its start is the folder's.
  const std::string id = IdOf(index);
  return "Microsoft 365 message \"" + std::string(subject.substr(0, 80)) + "\" (id ..." +
         id.substr(id.size() - std::min<std::size_t>(id.size(), 24)) + ")";
}

void GraphStore::WillOpen(const std::vector<std::size_t>& indexes) {
  plan_.assign(indexes.begin(), indexes.end());
}

void GraphStore::QueueReadMark(std::size_t index) {
  At(index);
  queued_.insert(index);
}

void GraphStore::DropReadMark(std::size_t index) { queued_.erase(index); }

// Requests still under way end before the marks go out; their bodies are
// dropped.
void GraphStore::CommitReadMarks() {
  DropFetches();
  std::vector<std::string> ids;
  for (const std::size_t index : queued_) {
    ids.push_back(IdOf(index));
    if (ids.size() == kReadMarksPerBatch) SendReadMarks(std::exchange(ids, {}));
  }
  if (!ids.empty()) SendReadMarks(std::move(ids));
  queued_.clear();
}

// One batch, and again for the marks the server asked to retry.
void GraphStore::SendReadMarks(std::vector<std::string> ids) {
  for (int round = 0; round < kReadMarkRounds && !ids.empty(); ++round) {
    const GraphReply reply = connection_->Call(
        {"POST", mailbox_.api_root + "/$batch", ReadMarkBatch(ids, MailboxPath())});
    if (!IsSuccess(reply.status)) {
      throw MailboxRequestFailure("marking messages read", reply.status, reply.body);
    }
    const ReadMarkAnswers answers = ParseReadMarkAnswers(reply.body, ids.size());
    if (answers.refused_status != 0) {
      throw MailboxRequestFailure("marking messages read", answers.refused_status,
                                  answers.refused_body);
    }
    std::vector<std::string> again;
    for (const std::size_t position : answers.to_retry) again.push_back(std::move(ids[position]));
    ids = std::move(again);
    if (ids.empty()) return;
    const auto wait =
        std::clamp(answers.retry_after, std::chrono::seconds(1), kLongestReadMarkWait);
    if (WaitForSockets({}, wait, cancel_).end == SocketWaitResult::End::kCancelled) {
      throw CancelledWhile("marking messages read");
    }
  }
  throw Failure(FailureKind::MailStore, Cause::kServerThrottled,
                std::to_string(ids.size()) +
                    " messages could not be marked read: Microsoft Graph kept asking to wait");
}

}  // namespace qm
