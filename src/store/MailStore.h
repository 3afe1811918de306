#pragma once
// What a mailbox back-end offers the mail layer: list the inbox, read the two
// headers the scan matches on, hand out a whole message, and mark messages read
// at sign-off. Decoding, attachment walking and temporary files sit above it
// and are shared by every back-end.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "base/UniqueFd.h"
#include "store/HeaderBlock.h"
#include "store/MessageAttachments.h"

namespace qm {

// What a sign-on may do, as the session asks.
struct SignOnRequest {
  // Have the mail system fetch new mail from its server before the listing
  // (a mail system with a local copy; the others always list what is there).
  bool download_mail = false;
  // Someone is there to answer a sign-on window of the mail system's own;
  // without, a sign-on that would need one fails instead of waiting.
  bool may_prompt = false;
};

// The fields the keyword test reads, decoded to UTF-8.
struct Envelope {
  std::string subject;
  std::string sender_name;
  std::string sender_address;
};

class MailStore {
 public:
  virtual ~MailStore() = default;

  // Lists the inbox afresh, in delivery order; returns the number of messages.
  virtual std::size_t List() = 0;
  // The same for the messages of one type; "" is every message. Only a mail
  // system with message types (Outlook's) knows others.
  virtual std::size_t ListOfType(const std::string& message_type);
  virtual bool IsRead(std::size_t index) = 0;
  // The subject and sender, decoded from Headers() unless the back-end's
  // mail system gives them decoded (Outlook's).
  virtual Envelope ReadEnvelope(std::size_t index);
  // Reads only what is needed for the two fields, never the whole message.
  // Throws UnreadableMessage when the message cannot be read. A back-end
  // that overrides ReadEnvelope reads no header fields and need not offer it.
  virtual RawHeaders Headers(std::size_t index);
  // Names the message for the user: its file, or its mailbox and UID.
  virtual std::string Describe(std::size_t index) const = 0;
  // True for a back-end that is worth telling ahead which messages the scan
  // will open (one that fetches over a network).
  virtual bool FetchesAhead() const { return false; }
  // The messages the scan will open, in the order it will open them: such a
  // back-end may start fetching them at once. The scan may still open others.
  virtual void WillOpen(const std::vector<std::size_t>& /*indexes*/) {}
  // True when the listing showed that the message cannot hold a file, so
  // that opening it is not needed; false when that is not known.
  virtual bool HoldsNoFile(std::size_t /*index*/) const { return false; }
  // The whole message as a readable, seekable descriptor. A back-end that must
  // download it writes it into `spool_folder` first: a folder the caller
  // holds open (a descriptor), whose files are reached through it alone. An invalid descriptor
  // means the message has gone meanwhile (deleted by another client): skip it.
  // Throws UnreadableMessage when this one message cannot be read and the
  // mailbox is otherwise fine.
  virtual UniqueFd OpenMessage(std::size_t index, int spool_folder);
  // True for a back-end whose mail system writes each attachment into a file
  // of its own instead of handing out the message (Outlook's): the scan asks
  // AttachmentFiles, never OpenMessage.
  virtual bool GivesAttachmentFiles() const { return false; }
  // The attachments of the message, taken from the files the mail system
  // wrote; null when the message has gone meanwhile. Throws
  // UnreadableMessage when this one message cannot be read.
  virtual std::unique_ptr<MessageAttachments> AttachmentFiles(std::size_t index);
  // Remembers that the message is to be marked read; nothing changes yet.
  virtual void QueueReadMark(std::size_t index) = 0;
  // Forgets a mark queued for the message: it could not be read whole.
  virtual void DropReadMark(std::size_t index) = 0;
  // Applies the remembered marks. Called only at sign-off, once every file
  // copied in this session is on disk.
  virtual void CommitReadMarks() = 0;
};

}  // namespace qm
