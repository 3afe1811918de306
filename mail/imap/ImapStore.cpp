#include "mail/imap/ImapStore.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <map>
#include <utility>

#include "frame/settings/Failure.h"
#include "frame/settings/WriteAll.h"
#include "mail/imap/ImapMailboxName.h"
#include "mail/imap/ImapUidSet.h"
#include "mail/store/HeaderBlock.h"
#include "mail/store/UnreadableMessage.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr char kHeaderFetch[] = "BODY.PEEK[HEADER.FIELDS (SUBJECT FROM)]";
constexpr char kHeaderItemPrefix[] = "BODY[HEADER.FIELDS ";  // the server's echo of it
constexpr char kBodyItem[] = "BODY[]";
constexpr int kLogoutResponses = 16;  // responses read while logging out before giving up

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

// Writes a streamed message into a file, from its start on every literal.
class FdSink : public LiteralSink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  void Begin() override {
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) {
      throw FileFailure(FailureKind::MailStore, errno, "writing the downloaded message");
    }
  }
  void Write(std::string_view bytes) override {
    WriteAll(fd_, bytes.data(), bytes.size(), "the downloaded message", FailureKind::MailStore);
  }

 private:
  int fd_;
};

// Stops streaming when the fetch that needed it ends, however it ends.
class StreamGuard {
 public:
  StreamGuard(ImapParser& parser, LiteralSink& sink) : parser_(parser) {
    parser_.StreamFetchItem(kBodyItem, &sink);
  }
  ~StreamGuard() { parser_.StreamFetchItem({}, nullptr); }
  StreamGuard(const StreamGuard&) = delete;
  StreamGuard& operator=(const StreamGuard&) = delete;

 private:
  ImapParser& parser_;
};

// A new private file in `folder`, unlinked at once so that nothing is left
// behind whatever happens next.
UniqueFd CreateUnlinkedFile(const fs::path& folder) {
  std::string pattern = (folder / "imap-message-XXXXXX").string();
  UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!fd.valid()) {
    throw FileFailure(FailureKind::MailStore, errno, "cannot create a file in " + folder.string());
  }
  if (::unlink(pattern.c_str()) != 0) {
    throw FileFailure(FailureKind::MailStore, errno, "cannot remove " + pattern);
  }
  return fd;
}

}  // namespace

ImapStore::ImapStore(std::unique_ptr<ImapTransport> transport, std::string mailbox)
    : transport_(std::move(transport)), parser_(*transport_), mailbox_(std::move(mailbox)) {}

ImapStore::~ImapStore() {
  if (broken_) return;
  try {
    Logout();
  } catch (...) {
    // Logging out is a courtesy: the connection closes with the transport.
  }
}

ImapResponse ImapStore::Run(const std::string& command, const DataHandler& on_data) {
  if (broken_) {
    throw Failure(FailureKind::MailStore, Cause::kMailServer,
                  "the connection to the mail server is no longer usable");
  }
  const std::string tag = "a" + std::to_string(next_tag_++);
  try {
    transport_->Send(tag + " " + command + "\r\n");
    for (;;) {
      ImapResponse response = parser_.Next();
      if (response.kind == ImapResponse::Kind::kTagged) {
        if (response.tag != tag) throw Malformed();
        return response;
      }
      if (response.kind == ImapResponse::Kind::kContinuation) throw Malformed();
      Track(response);
      if (on_data) on_data(response);
    }
  } catch (...) {
    broken_ = true;
    throw;
  }
}

void ImapStore::Track(const ImapResponse& response) {
  if (response.keyword == "BYE") {
    throw Failure(FailureKind::MailStore, Cause::kMailServer,
                  "the mail server closed the connection: " + response.text);
  }
  if (response.keyword == "EXISTS") exists_ = response.number;
  if (response.keyword == "EXPUNGE" && exists_ > 0) --exists_;
}

void ImapStore::Select() {
  exists_ = 0;
  std::optional<std::uint64_t> validity;
  const ImapResponse done =
      Run("SELECT " + QuoteImapString(EncodeMailboxName(mailbox_)), [&](const ImapResponse& r) {
        if (r.keyword != "OK" || r.code != "UIDVALIDITY") return;
        validity = 0;
        for (const char c : r.code_argument) {
          if (c < '0' || c > '9' || *validity > UINT32_MAX) throw Malformed();
          *validity = *validity * 10 + static_cast<std::uint64_t>(c - '0');
        }
      });
  if (done.keyword != "OK") throw Refused("SELECT", done);
  // A new UIDVALIDITY means the UIDs of the last listing name other messages
  // now: the marks queued against them must not be applied.
  if (validity && uid_validity_ && *validity != *uid_validity_) queued_.clear();
  if (validity) uid_validity_ = validity;
}

void ImapStore::FetchHeaders() {
  struct Found {
    bool read = false;
    std::optional<RawHeaders> headers;
  };
  std::map<std::uint32_t, Found> found;  // ordered by UID: delivery order
  const ImapResponse done = Run(std::string("UID FETCH 1:* (UID FLAGS ") + kHeaderFetch + ")",
                                [&](const ImapResponse& r) {
                                  if (r.keyword != "FETCH") return;
                                  const std::optional<std::uint32_t> uid = UidOf(r);
                                  if (!uid) return;
                                  Found& entry = found[*uid];
                                  if (const ImapValue* flags = FindItem(r, "FLAGS"))
                                    entry.read = HasSeenFlag(*flags);
                                  if (const ImapValue* block = FindHeaderItem(r)) {
                                    if (block->kind == ImapValue::Kind::kNil) {
                                      entry.headers = RawHeaders{};
                                    } else if (block->kind == ImapValue::Kind::kString) {
                                      entry.headers = ParseHeaderBlock(block->text);
                                    } else {
                                      throw Malformed();
                                    }
                                  }
                                });
  if (done.keyword != "OK") throw Refused("UID FETCH", done);
  for (auto& [uid, entry] : found) {
    // A response without the header fields is a flag change of a message the
    // fetch did not return (expunged meanwhile): not part of the listing.
    if (entry.headers) entries_.push_back(Entry{uid, entry.read, std::move(*entry.headers)});
  }
}

std::size_t ImapStore::List() {
  entries_.clear();
  Select();
  // "1:*" on an empty mailbox is refused or answered with nothing, depending
  // on the server: there is nothing to fetch anyway.
  if (exists_ > 0) FetchHeaders();
  return entries_.size();
}

const ImapStore::Entry& ImapStore::At(std::size_t index) const {
  if (index >= entries_.size()) {
    throw Failure(FailureKind::Internal, Cause::kInternal, "message index out of range");
  }
  return entries_[index];
}

bool ImapStore::IsRead(std::size_t index) { return At(index).read; }

RawHeaders ImapStore::Headers(std::size_t index) { return At(index).headers; }

UniqueFd ImapStore::OpenMessage(std::size_t index, const std::filesystem::path& spool_folder) {
  const std::uint32_t uid = At(index).uid;
  UniqueFd file = CreateUnlinkedFile(spool_folder);
  FdSink sink(file.get());
  bool received = false;
  ImapResponse done;
  {
    const StreamGuard streaming(parser_, sink);
    done = Run("UID FETCH " + std::to_string(uid) + " BODY.PEEK[]", [&](const ImapResponse& r) {
      if (r.keyword != "FETCH") return;
      const ImapValue* body = FindItem(r, kBodyItem);
      if (body == nullptr) return;
      // Only this command asks for whole bodies: one for another message
      // would already have overwritten the file.
      if (UidOf(r) != uid) throw Malformed();
      if (body->kind == ImapValue::Kind::kString) {  // sent quoted: held, so written now
        sink.Begin();
        sink.Write(body->text);
      } else if (body->kind != ImapValue::Kind::kStreamed && body->kind != ImapValue::Kind::kNil) {
        throw Malformed();
      }
      received = body->kind != ImapValue::Kind::kNil;
    });
  }
  if (done.keyword == "NO") {
    if (done.code == "EXPUNGEISSUED") return UniqueFd();  // expunged by another client
    // Servers refuse so for a message they cannot read themselves (a damaged
    // file on their side): the rest of the mailbox is fine.
    throw UnreadableMessage(Describe(index), Refused("UID FETCH", done).what());
  }
  if (done.keyword != "OK") throw Refused("UID FETCH", done);
  if (!received) return UniqueFd();  // expunged before the fetch: nothing came back
  if (::lseek(file.get(), 0, SEEK_SET) != 0) {
    throw FileFailure(FailureKind::MailStore, errno, "cannot rewind the downloaded message");
  }
  return file;
}

std::string ImapStore::Describe(std::size_t index) const {
  return "message UID " + std::to_string(At(index).uid) + " in " + mailbox_;
}

void ImapStore::QueueReadMark(std::size_t index) { queued_.insert(At(index).uid); }

void ImapStore::DropReadMark(std::size_t index) { queued_.erase(At(index).uid); }

void ImapStore::CommitReadMarks() {
  for (const std::string& set : UidSets(queued_, kRangesPerCommand)) {
    const ImapResponse done = Run("UID STORE " + set + " +FLAGS.SILENT (\\Seen)", nullptr);
    if (done.keyword != "OK") throw Refused("UID STORE", done);
  }
  queued_.clear();
}

void ImapStore::Logout() {
  const std::string tag = "a" + std::to_string(next_tag_++);
  transport_->Send(tag + " LOGOUT\r\n");
  for (int i = 0; i < kLogoutResponses; ++i) {
    const ImapResponse response = parser_.Next();
    if (response.kind == ImapResponse::Kind::kTagged) return;
  }
}

}  // namespace qm
