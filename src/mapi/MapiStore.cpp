#include "mapi/MapiStore.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "base/Failure.h"
#include "mapi/AnsiCodePage.h"
#include "mapi/MapiAttachmentFiles.h"
#include "mapi/MapiResult.h"
#include "store/HeaderBlock.h"
#include "store/UnreadableMessage.h"
#include "text/CutAtCharacter.h"

namespace qm {
namespace {

// Bounds on what the mail program may hand over.
constexpr std::size_t kMaxMessages = 1'000'000;
constexpr std::size_t kMaxAttachments = 10'000;
// MAPI_LONG_MSGID: identifiers of up to 512 bytes.
constexpr std::size_t kMessageIdBytes = 512;

// A field as the keyword test keeps it: decoded, and cut where a header
// field of the other mailboxes would be.
std::string FieldOf(const char* ansi) {
  const std::string text = Utf8OfAnsi(ansi);
  return std::string(CutAtCharacter(text, kMaxHeaderFieldBytes));
}

// Outlook gives an Internet sender as "SMTP:name@example.com" (an Exchange
// sender's address is its directory name, kept as it is).
std::string AddressOf(const char* ansi) {
  std::string address = FieldOf(ansi);
  constexpr std::string_view kSmtp = "smtp:";
  const bool smtp = address.size() > kSmtp.size() &&
                    std::equal(kSmtp.begin(), kSmtp.end(), address.begin(), [](char a, char b) {
                      return a == std::tolower(static_cast<unsigned char>(b));
                    });
  if (smtp) address.erase(0, kSmtp.size());
  return address;
}

}  // namespace

MapiStore::MapiStore(std::shared_ptr<const MapiLibrary> library, LHANDLE session,
                     TemporaryFilesRecord record)
    : library_(std::move(library)), session_(session), record_(std::move(record)) {}

MapiStore::~MapiStore() {
  library_->logoff(session_, 0, 0, 0);
  record_.RemoveRecorded();
}

std::size_t MapiStore::ListOfType(const std::string& message_type) {
  listed_.clear();
  marks_.clear();
  std::string type = message_type;
  std::string seed;
  std::unordered_set<std::string> seen;
  for (;;) {
    char id[kMessageIdBytes + 1] = {};
    const ULONG result =
        library_->find_next(session_, 0, type.data(), seed.empty() ? nullptr : seed.data(),
                            MAPI_LONG_MSGID | MAPI_GUARANTEE_FIFO, 0, id);
    if (result == MAPI_E_NO_MESSAGES) break;
    if (result != SUCCESS_SUCCESS) throw MapiMailboxFailure(result, "MAPIFindNext");
    seed = id;
    // A mail program that lists a message twice would list for ever.
    if (seed.empty() || !seen.insert(seed).second || listed_.size() == kMaxMessages) {
      throw Failure(FailureKind::MailStore, Cause::kMailServer,
                    "Outlook's listing of the inbox does not end (" +
                        std::to_string(listed_.size()) + " messages listed)");
    }
    listed_.push_back({seed, std::nullopt, false});
  }
  return listed_.size();
}

ULONG MapiStore::ReadMail(const std::string& id, FLAGS flags, MapiMessagePtr& message) {
  std::string mutable_id = id;
  return library_->read_mail(session_, 0, mutable_id.data(), flags, 0, message.out());
}

// A message that has gone since the listing (deleted, moved by a rule)
// reads as read and without fields: the scan passes it by.
MapiStore::Listed& MapiStore::EnvelopeOf(std::size_t index) {
  Listed& listed = listed_.at(index);
  if (listed.envelope) return listed;
  MapiMessagePtr message(library_);
  const ULONG result =
      ReadMail(listed.id, MAPI_PEEK | MAPI_ENVELOPE_ONLY | MAPI_SUPPRESS_ATTACH, message);
  if (result == MAPI_E_INVALID_MESSAGE) {
    listed.envelope = Envelope{};
    listed.read = true;
    return listed;
  }
  if (IsOneMessageFailure(result)) throw UnreadableMessage(Describe(index), MapiResultName(result));
  if (result != SUCCESS_SUCCESS) throw MapiMailboxFailure(result, "MAPIReadMail");
  Envelope envelope;
  envelope.subject = FieldOf(message->lpszSubject);
  if (const MapiRecipDesc* sender = message->lpOriginator) {
    envelope.sender_name = FieldOf(sender->lpszName);
    envelope.sender_address = AddressOf(sender->lpszAddress);
  }
  listed.read = (message->flFlags & MAPI_UNREAD) == 0;
  listed.envelope = std::move(envelope);
  return listed;
}

bool MapiStore::IsRead(std::size_t index) { return EnvelopeOf(index).read; }

Envelope MapiStore::ReadEnvelope(std::size_t index) { return *EnvelopeOf(index).envelope; }

std::string MapiStore::Describe(std::size_t index) const {
  return "Outlook inbox, message " + std::to_string(index + 1);
}

std::unique_ptr<MessageAttachments> MapiStore::AttachmentFiles(std::size_t index) {
  MapiMessagePtr message(library_);
  const ULONG result = ReadMail(listed_.at(index).id, MAPI_PEEK, message);
  if (result == MAPI_E_INVALID_MESSAGE) return nullptr;
  if (IsOneMessageFailure(result)) throw UnreadableMessage(Describe(index), MapiResultName(result));
  if (result != SUCCESS_SUCCESS) throw MapiMailboxFailure(result, "MAPIReadMail");
  const ULONG count = message->lpFiles != nullptr ? message->nFileCount : 0;
  std::vector<MapiAttachment> attachments;
  std::vector<std::filesystem::path> files;
  for (ULONG i = 0; i < count && i < kMaxAttachments; ++i) {
    const MapiFileDesc& file = message->lpFiles[i];
    std::filesystem::path path(WideOfAnsi(file.lpszPathName));
    if (!path.empty()) files.push_back(path);
    attachments.push_back({MapiAttachmentName(file.lpszFileName, path), std::move(path)});
  }
  // Recorded and owned first: whatever happens next, these files go.
  record_.Add(files);
  auto owned = std::make_unique<MapiAttachmentFiles>(std::move(attachments));
  if (files.size() != owned->size()) {
    throw UnreadableMessage(Describe(index), "Outlook wrote no file for an attachment");
  }
  if (count > kMaxAttachments) {
    throw UnreadableMessage(Describe(index),
                            "more than " + std::to_string(kMaxAttachments) + " attachments");
  }
  return owned;
}

void MapiStore::QueueReadMark(std::size_t index) { marks_.insert(index); }

void MapiStore::DropReadMark(std::size_t index) { marks_.erase(index); }

// Reading a message without MAPI_PEEK is how Simple MAPI marks it read.
void MapiStore::CommitReadMarks() {
  ULONG first_failure = SUCCESS_SUCCESS;
  for (const std::size_t index : marks_) {
    MapiMessagePtr message(library_);
    const ULONG result =
        ReadMail(listed_.at(index).id, MAPI_ENVELOPE_ONLY | MAPI_SUPPRESS_ATTACH, message);
    if (result != SUCCESS_SUCCESS && result != MAPI_E_INVALID_MESSAGE &&
        first_failure == SUCCESS_SUCCESS) {
      first_failure = result;
    }
  }
  marks_.clear();
  if (first_failure != SUCCESS_SUCCESS) {
    throw MapiMailboxFailure(first_failure, "MAPIReadMail (marking a message read)");
  }
}

}  // namespace qm
