#include "imap/ImapStore.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>
#include <utility>

#include "base/Failure.h"
#include "base/WriteAll.h"
#include "imap/BodyStructure.h"
#include "imap/ImapMailboxName.h"
#include "imap/ImapUidSet.h"
#include "imap/ListedHeaders.h"
#include "store/UnreadableMessage.h"

namespace qm {
namespace {

constexpr char kHeaderFetch[] = "BODY.PEEK[HEADER.FIELDS (SUBJECT FROM)]";
constexpr char kHeaderItemPrefix[] = "BODY[HEADER.FIELDS ";  // the server's echo of it
constexpr char kBodyItem[] = "BODY[]";

Failure Malformed() {
  return Failure(FailureKind::MailStore, Cause::kMailServer,
                 "the mail server sent a malformed response");
}

Failure Refused(const std::string& command, const ImapResponse& answer) {
  const std::string& text = answer.text.empty() ? answer.code : answer.text;
  return Failure(FailureKind::MailStore, Cause::kMailServer,
                 "the mail server refused " + command + ": " + text);
}

const ImapValue* FindItem(const ImapResponse& fetch, std::string_view name) {
  for (const ImapFetchItem& item : fetch.fetch) {
    if (item.name == name) return &item.value;
  }
  return nullptr;
}

const ImapValue* FindHeaderItem(const ImapResponse& fetch) {
  for (const ImapFetchItem& item : fetch.fetch) {
    if (item.name.rfind(kHeaderItemPrefix, 0) == 0) return &item.value;
  }
  return nullptr;
}

// The UID of a FETCH response, or nothing for one without (an unsolicited
// flag change keyed only by message number).
std::optional<std::uint32_t> UidOf(const ImapResponse& fetch) {
  const ImapValue* uid = FindItem(fetch, "UID");
  if (uid == nullptr) return std::nullopt;
  if (uid->kind != ImapValue::Kind::kNumber || uid->number == 0 || uid->number > UINT32_MAX) {
    throw Malformed();
  }
  return static_cast<std::uint32_t>(uid->number);
}

bool HasSeenFlag(const ImapValue& flags) {
  if (flags.kind != ImapValue::Kind::kList) throw Malformed();
  for (const ImapValue& flag : flags.items) {
    if (flag.kind != ImapValue::Kind::kAtom) throw Malformed();
    std::string name = flag.text;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == "\\seen") return true;
  }
  return false;
}

// The number of "OK [UIDVALIDITY n]".
std::uint64_t UidValidityOf(const ImapResponse& response) {
  std::uint64_t validity = 0;
  for (const char c : response.code_argument) {
    if (c < '0' || c > '9' || validity > UINT32_MAX) throw Malformed();
    validity = validity * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return validity;
}

// A message's size as the listing gives it (RFC822.SIZE); 0 when missing.
std::uint64_t SizeOf(const ImapResponse& fetch) {
  const ImapValue* size = FindItem(fetch, "RFC822.SIZE");
  if (size == nullptr) return 0;
  if (size->kind != ImapValue::Kind::kNumber) throw Malformed();
  return size->number;
}

// Whether the structure the listing gives allows a file; unknown means yes.
bool MayHoldFile(const ImapResponse& fetch) {
  const ImapValue* structure = FindItem(fetch, "BODYSTRUCTURE");
  return structure == nullptr || structure->kind != ImapValue::Kind::kRaw ||
         MayHoldAttachment(structure->text);
}

}  // namespace

ImapStore::ImapStore(std::unique_ptr<ImapTransport> transport, std::string mailbox, bool compress)
    : connection_(std::move(transport)),
      mailbox_(std::move(mailbox)),
      compression_tried_(!compress) {
  connection_.parser().StreamFetchItem(kBodyItem, &spool_);
  connection_.parser().KeepRawFetchItem("BODYSTRUCTURE");
}

ImapStore::~ImapStore() { connection_.Logout(); }

// SELECT and the listing go out together, a round trip less: the server
// takes them in order. On an empty mailbox the listing's answer does not
// count ("1:*" is refused or answered with nothing, depending on the server).
std::size_t ImapStore::List() {
  ForgetFetches();
  entries_.clear();
  if (!compression_tried_) {
    compression_tried_ = true;
    connection_.Compress();
  }
  std::optional<ImapResponse> selected, listed;
  std::optional<std::uint64_t> validity;
  bool in_order = true;
  connection_.Send("SELECT " + QuoteImapString(EncodeMailboxName(mailbox_)),
                   [&](const ImapResponse& done) { selected = done; });
  connection_.Send(
      std::string("UID FETCH 1:* (UID FLAGS RFC822.SIZE BODYSTRUCTURE ") + kHeaderFetch + ")",
      [&](const ImapResponse& done) { listed = done; });
  while (!selected || !listed) {
    connection_.ReadOne([&](const ImapResponse& r) {
      if (r.keyword == "OK" && r.code == "UIDVALIDITY") {
        validity = UidValidityOf(r);
      } else if (r.keyword == "FETCH" && selected) {
        AddToListing(r, in_order);
      } else {
        OnData(r);
      }
    });
  }
  if (selected->keyword != "OK") throw Refused("SELECT", *selected);
  // A new UIDVALIDITY means the UIDs of the last listing name other messages
  // now: the marks queued against them must not be applied.
  if (validity && uid_validity_ && *validity != *uid_validity_) queued_.clear();
  if (validity) uid_validity_ = validity;
  if (connection_.exists() == 0) {
    entries_.clear();
    return 0;
  }
  if (listed->keyword != "OK") throw Refused("UID FETCH", *listed);
  FinishListing(in_order);
  return entries_.size();
}

// One answer of the listing; only what the scan needs of each message is
// kept, compactly, so that the listing of a large mailbox stays small: the
// start of its subject and sender (ListedHeaders.h). Memory grows with the
// answers that come, never with the count of messages the server claims.
// Servers answer in UID order, which is the delivery order.
void ImapStore::AddToListing(const ImapResponse& r, bool& in_order) {
  const std::optional<std::uint32_t> uid = UidOf(r);
  if (!uid) return;
  if (entries_.empty() || entries_.back().uid != *uid) {
    in_order = in_order && (entries_.empty() || entries_.back().uid < *uid);
    entries_.emplace_back().uid = *uid;
  }
  Entry& entry = entries_.back();
  if (const ImapValue* flags = FindItem(r, "FLAGS")) entry.read = HasSeenFlag(*flags);
  if (FindItem(r, "RFC822.SIZE") != nullptr) entry.size = SizeOf(r);
  if (FindItem(r, "BODYSTRUCTURE") != nullptr) entry.may_hold_file = MayHoldFile(r);
  if (const ImapValue* block = FindHeaderItem(r)) {
    if (block->kind == ImapValue::Kind::kString) {
      entry.SetHeaders(ListedHeaders(block->text));
    } else if (block->kind != ImapValue::Kind::kNil) {
      throw Malformed();
    }
    entry.listed = true;
  }
}

// A server that answered out of UID order, or said more of a message than
// once, is put in order; a message the fetch said nothing but flags of was
// expunged meanwhile: not part of the listing.
void ImapStore::FinishListing(bool in_order) {
  if (!in_order) MergeListing();
  std::erase_if(entries_, [](const Entry& entry) { return !entry.listed; });
  entries_.shrink_to_fit();
}

// Sorts the listing by UID and folds what was said of one message in several
// responses into one entry, the later word counting.
void ImapStore::MergeListing() {
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const Entry& a, const Entry& b) { return a.uid < b.uid; });
  std::vector<Entry> merged;
  merged.reserve(entries_.size());
  for (Entry& entry : entries_) {
    if (merged.empty() || merged.back().uid != entry.uid) {
      merged.push_back(std::move(entry));
      continue;
    }
    Entry& into = merged.back();
    into.read = entry.read;
    if (entry.size != 0) into.size = entry.size;
    into.may_hold_file = into.may_hold_file && entry.may_hold_file;
    if (entry.listed) {
      into.listed = true;
      into.headers = std::move(entry.headers);
      into.from_at = entry.from_at;
    }
  }
  entries_ = std::move(merged);
}

const ImapStore::Entry& ImapStore::At(std::size_t index) const {
  if (index >= entries_.size()) {
    throw Failure(FailureKind::Internal, Cause::kInternal, "message index out of range");
  }
  return entries_[index];
}

bool ImapStore::IsRead(std::size_t index) { return At(index).read; }

RawHeaders ImapStore::Headers(std::size_t index) {
  const Entry& entry = At(index);
  return {entry.headers.substr(0, entry.from_at), entry.headers.substr(entry.from_at)};
}

std::string ImapStore::Describe(std::size_t index) const {
  return "message UID " + std::to_string(At(index).uid) + " in " + mailbox_;
}

bool ImapStore::HoldsNoFile(std::size_t index) const { return !At(index).may_hold_file; }

void ImapStore::WillOpen(const std::vector<std::size_t>& indexes) {
  plan_.clear();
  for (const std::size_t index : indexes) {
    if (At(index).may_hold_file) plan_.push_back(index);
  }
}

// The answers to the fetches come back with whatever else the server has to
// say; a body goes to the fetch that asked for it.
void ImapStore::OnData(const ImapResponse& response) {
  if (response.keyword != "FETCH") return;
  const ImapValue* body = FindItem(response, kBodyItem);
  if (body == nullptr) return;
  UniqueFd file = body->kind == ImapValue::Kind::kStreamed ? spool_.Take() : UniqueFd();
  const std::optional<std::uint32_t> uid = UidOf(response);
  if (!uid) throw Malformed();
  const auto fetch = fetches_.find(*uid);
  if (fetch == fetches_.end() || fetch->second.done) return;  // not asked for: dropped
  if (body->kind == ImapValue::Kind::kString) {               // sent quoted: held, so written now
    file = CreateUnlinkedFile(spool_folder_);
    WriteAll(file.get(), body->text.data(), body->text.size(), "a message from the mail server");
    if (::lseek(file.get(), 0, SEEK_SET) != 0) {
      throw FileFailure(FailureKind::FileWrite, errno, "rewinding a message");
    }
  } else if (body->kind != ImapValue::Kind::kStreamed && body->kind != ImapValue::Kind::kNil) {
    throw Malformed();
  }
  fetch->second.body = std::move(file);
}

void ImapStore::Request(const Entry& entry) {
  const std::uint32_t uid = entry.uid;
  requested_.insert(uid);
  fetches_[uid].size = entry.size;
  bytes_ahead_ += entry.size;
  connection_.Send("UID FETCH " + std::to_string(uid) + " BODY.PEEK[]",
                   [this, uid](const ImapResponse& done) {
                     const auto fetch = fetches_.find(uid);
                     if (fetch == fetches_.end()) return;
                     fetch->second.done = true;
                     if (done.keyword == "OK") return;
                     // A message expunged by another client meanwhile is
                     // simply gone; any other NO is the server's own trouble
                     // with this one message. BAD is not.
                     if (done.keyword != "NO") throw Refused("UID FETCH", done);
                     fetch->second.body.Reset();
                     if (done.code != "EXPUNGEISSUED") {
                       fetch->second.refusal = Refused("UID FETCH", done).what();
                     }
                   });
}

// Keeps the next planned messages asked for, within the budget.
void ImapStore::FetchAhead() {
  while (!plan_.empty() && fetches_.size() < kMessagesAhead && bytes_ahead_ < kBytesAhead) {
    const Entry& entry = At(plan_.front());
    plan_.pop_front();
    if (!requested_.contains(entry.uid)) Request(entry);
  }
}

UniqueFd ImapStore::OpenMessage(std::size_t index, int spool_folder) {
  const Entry& entry = At(index);
  spool_folder_ = spool_folder;
  spool_.SetFolder(spool_folder);
  if (!fetches_.contains(entry.uid)) Request(entry);
  FetchAhead();
  while (!fetches_.at(entry.uid).done) {
    connection_.ReadOne([this](const ImapResponse& r) { OnData(r); });
  }
  Fetch fetch = std::move(fetches_.at(entry.uid));
  fetches_.erase(entry.uid);
  bytes_ahead_ -= fetch.size;
  FetchAhead();  // the next ones come while the scan works on this one
  if (!fetch.refusal.empty()) throw UnreadableMessage(Describe(index), fetch.refusal);
  return std::move(fetch.body);  // invalid when it was gone: skip it
}

void ImapStore::QueueReadMark(std::size_t index) { queued_.insert(At(index).uid); }

void ImapStore::DropReadMark(std::size_t index) { queued_.erase(At(index).uid); }

// Fetches still under way are read to their end (their bodies dropped)
// before anything else is said.
void ImapStore::ForgetFetches() {
  connection_.Drain([this](const ImapResponse& r) { OnData(r); });
  fetches_.clear();
  plan_.clear();
  requested_.clear();
  bytes_ahead_ = 0;
}

void ImapStore::CommitReadMarks() {
  ForgetFetches();
  for (const std::string& set : UidSets(queued_, kRangesPerCommand)) {
    const ImapResponse done = connection_.Run("UID STORE " + set + " +FLAGS.SILENT (\\Seen)",
                                              [this](const ImapResponse& r) { OnData(r); });
    if (done.keyword != "OK") throw Refused("UID STORE", done);
  }
  queued_.clear();
}

}  // namespace qm
