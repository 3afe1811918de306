#include "store/MailStore.h"

#include "base/Failure.h"
#include "text/HeaderText.h"

namespace qm {
namespace {

Failure NotOffered(const char* what) {
  return Failure(FailureKind::Internal, Cause::kInternal,
                 std::string("this mailbox offers no ") + what);
}

}  // namespace

std::size_t MailStore::ListOfType(const std::string& message_type) {
  if (!message_type.empty()) {
    throw Failure(FailureKind::Internal, Cause::kInternal,
                  "this mailbox has no message type \"" + message_type + "\"");
  }
  return List();
}

Envelope MailStore::ReadEnvelope(std::size_t index) {
  const RawHeaders raw = Headers(index);
  const Mailbox sender = ParseFirstMailbox(raw.from);
  return {DecodeUnstructured(raw.subject), SenderDisplayName(sender), sender.address};
}

RawHeaders MailStore::Headers(std::size_t /*index*/) { throw NotOffered("header fields"); }

UniqueFd MailStore::OpenMessage(std::size_t /*index*/, int /*spool_folder*/) {
  throw NotOffered("whole messages");
}

std::unique_ptr<MessageAttachments> MailStore::AttachmentFiles(std::size_t /*index*/) {
  throw NotOffered("attachment files");
}

}  // namespace qm
