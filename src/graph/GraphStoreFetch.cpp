// The Graph store's fetching ahead: the plan's messages in its order, small
// ones in batches and the rest on their own, within the budget of messages
// waiting in the spool folder.
//
// Graph serves at most four requests per mailbox at once and runs a batch's
// items four at a time, so a batch goes alone: it starts when no other
// request is under way, and none starts while it is.

#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

#include "base/FileSystem.h"
#include "base/WriteAll.h"
#include "graph/GraphErrors.h"
#include "graph/GraphMessageBatch.h"
#include "graph/GraphReadMarks.h"
#include "graph/GraphStore.h"
#include "store/UnreadableMessage.h"
#include "text/PercentEncoding.h"

namespace qm {
namespace {

bool IsSuccess(long status) { return status >= 200 && status < 300; }

UniqueFd ScratchFile(int folder) {
  UniqueFd file(fs::CreateScratchFile(folder));
  if (!file.valid()) {
    throw FileFailure(FailureKind::FileWrite, errno, "cannot create a message file");
  }
  return file;
}

}  // namespace

bool GraphStore::IsBatched(std::size_t index) const { return At(index).size <= kLargestBatched; }

std::size_t GraphStore::LargeAhead() const {
  std::size_t large = 0;
  for (const auto& [index, fetch] : fetches_) large += IsBatched(index) ? 0 : 1;
  return large;
}

void GraphStore::DropAskedFromPlan() {
  while (!plan_.empty() && fetches_.contains(plan_.front())) plan_.pop_front();
}

// The small messages that come next in the plan, up to a large one, a full
// batch or the budget.
GraphStore::Run GraphStore::NextRun(std::size_t budget) const {
  Run run;
  for (const std::size_t index : plan_) {
    if (fetches_.contains(index)) continue;
    const std::uint64_t size = At(index).size;
    if (!IsBatched(index) || run.indexes.size() == kMessagesPerBatch ||
        run.bytes + size > kBatchBytes) {
      return run;
    }
    if (run.indexes.size() == budget) {
      run.whole = false;
      return run;
    }
    run.indexes.push_back(index);
    run.bytes += size;
  }
  return run;
}

// Asks for the next message of the plan, or the next batch, when the rules
// allow; whether it did. `needed_now`: the scan waits for the plan's next
// message, which goes even past the budget or in a short batch.
bool GraphStore::StartNext(bool needed_now) {
  if (spool_folder_ < 0 || batch_tag_ != 0) return false;
  DropAskedFromPlan();
  if (plan_.empty()) return false;
  if (!needed_now && fetches_.size() >= kMessagesAhead) return false;
  const std::size_t budget = needed_now ? kMessagesPerBatch : kMessagesAhead - fetches_.size();
  if (!IsBatched(plan_.front())) {
    if (!needed_now && LargeAhead() >= kLargeAhead) return false;
    RequestValue(plan_.front());
    return true;
  }
  const Run run = NextRun(budget);
  // A run cut by the budget waits for the scan to make room, so that the
  // batch is a full one.
  if (!run.whole && !needed_now) return false;
  if (run.indexes.size() < kLeastBatched) {
    RequestValue(plan_.front());
    return true;
  }
  if (!requests_.empty()) return false;
  RequestBatch(run);
  return true;
}

void GraphStore::FetchAhead() {
  while (StartNext(false)) {
  }
}

// Sees that the message is asked for: as the plan has it when it is the
// plan's next, else on its own.
void GraphStore::AskFor(std::size_t index) {
  DropAskedFromPlan();
  while (!fetches_.contains(index)) {
    if (!plan_.empty() && plan_.front() == index) {
      if (!StartNext(true)) Settle(connection_->WaitForAny());
    } else if (batch_tag_ != 0) {
      Settle(connection_->WaitFor(batch_tag_));
    } else {
      RequestValue(index);
    }
  }
}

void GraphStore::RequestValue(std::size_t index) {
  UniqueFd file = ScratchFile(spool_folder_);
  GraphRequest request{"GET",
                       MailboxUrl() + "/messages/" + PercentEncoded(IdOf(index)) + "/$value"};
  request.body_file = file.get();
  request.max_body = kMaxMessageBytes;
  const std::uint64_t tag = connection_->Start(std::move(request));
  fetches_[index] = {tag, std::move(file), 0, {}};
  requests_[tag] = {index};
}

// The answer holds each message base64-encoded in JSON: its bound allows
// twice the sizes (MIME encodes attachments that the size counts as bytes)
// and a megabyte for the rest.
void GraphStore::RequestBatch(const Run& run) {
  std::vector<std::string> ids;
  for (const std::size_t index : run.indexes) ids.push_back(IdOf(index));
  const std::vector<std::string_view> views(ids.begin(), ids.end());
  GraphRequest request{"POST", mailbox_.api_root + "/$batch", MessageBatch(views, MailboxPath())};
  request.max_body = 2 * run.bytes + (std::uint64_t{1} << 20);
  const std::uint64_t tag = connection_->Start(std::move(request));
  for (const std::size_t index : run.indexes) fetches_[index] = {tag, UniqueFd(), 0, {}};
  requests_[tag] = run.indexes;
  batch_tag_ = tag;
}

void GraphStore::Settle(GraphReply reply) {
  const auto found = requests_.find(reply.tag);
  if (found == requests_.end()) throw InternalFailure("an answer to no request of the store");
  const std::vector<std::size_t> indexes = std::move(found->second);
  requests_.erase(found);
  if (reply.tag == batch_tag_) {
    batch_tag_ = 0;
    SettleBatch(indexes, std::move(reply));
    return;
  }
  Fetch& fetch = fetches_.at(indexes.front());
  fetch.tag = 0;
  fetch.status = reply.status;
  if (!IsSuccess(reply.status)) fetch.error = std::move(reply.body);
}

// Each message that came is written into a file of its own; those the
// batch did not bring are asked for on their own.
void GraphStore::SettleBatch(const std::vector<std::size_t>& indexes, GraphReply reply) {
  if (reply.status == 401 || reply.status == 403) {
    throw MailboxRequestFailure("reading messages", reply.status, reply.body);
  }
  const std::vector<BatchedMessage> messages =
      IsSuccess(reply.status) ? ParseMessageBatch(std::move(reply.body), indexes.size())
                              : std::vector<BatchedMessage>(indexes.size());
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    Fetch& fetch = fetches_.at(indexes[i]);
    switch (messages[i].outcome) {
      case BatchedMessage::Outcome::kArrived:
        Arrived(fetch, messages[i].bytes);
        break;
      case BatchedMessage::Outcome::kGone:
        fetch = {0, UniqueFd(), 404, {}};
        break;
      case BatchedMessage::Outcome::kFetchAlone:
        RequestValue(indexes[i]);
        break;
    }
  }
}

void GraphStore::Arrived(Fetch& fetch, const std::string& bytes) {
  fetch.body = ScratchFile(spool_folder_);
  WriteAll(fetch.body.get(), bytes.data(), bytes.size(), "a message file");
  fetch.tag = 0;
  fetch.status = 200;
}

UniqueFd GraphStore::OpenMessage(std::size_t index, int spool_folder) {
  At(index);
  spool_folder_ = spool_folder;
  AskFor(index);
  FetchAhead();
  while (fetches_.at(index).tag != 0) {
    Settle(connection_->WaitFor(fetches_.at(index).tag));
    FetchAhead();  // the next ones come while the scan works on this one
  }
  Fetch fetch = std::move(fetches_.at(index));
  fetches_.erase(index);
  FetchAhead();
  if (fetch.status == 404) return UniqueFd();  // deleted meanwhile: skip it
  if (fetch.status == 401 || fetch.status == 403) {
    throw MailboxRequestFailure("reading a message", fetch.status, fetch.error);
  }
  if (!IsSuccess(fetch.status)) {
    throw UnreadableMessage(Describe(index), GraphErrorText(fetch.status, fetch.error));
  }
  if (::lseek(fetch.body.get(), 0, SEEK_SET) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno, "rewinding a message");
  }
  return std::move(fetch.body);
}

// Requests under way end, and what they bring is dropped.
void GraphStore::DropFetches() {
  for (const auto& [tag, indexes] : requests_) connection_->WaitFor(tag);
  requests_.clear();
  batch_tag_ = 0;
  fetches_.clear();
  plan_.clear();
}

}  // namespace qm
