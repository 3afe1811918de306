#pragma once
// What a mailbox back-end offers the mail layer: list the inbox, read the two
// headers the scan matches on, hand out a whole message, and mark messages read
// at sign-off. Decoding, attachment walking and temporary files sit above it
// and are shared by every back-end.

#include <cstddef>
#include <string>
#include <vector>

#include "base/UniqueFd.h"
#include "store/HeaderBlock.h"

namespace qm {

class MailStore {
 public:
  virtual ~MailStore() = default;

  // Lists the inbox afresh, in delivery order; returns the number of messages.
  virtual std::size_t List() = 0;
  virtual bool IsRead(std::size_t index) = 0;
  // Reads only what is needed for the two fields, never the whole message.
  // Throws UnreadableMessage when the message cannot be read.
  virtual RawHeaders Headers(std::size_t index) = 0;
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
  virtual UniqueFd OpenMessage(std::size_t index, int spool_folder) = 0;
  // Remembers that the message is to be marked read; nothing changes yet.
  virtual void QueueReadMark(std::size_t index) = 0;
  // Forgets a mark queued for the message: it could not be read whole.
  virtual void DropReadMark(std::size_t index) = 0;
  // Applies the remembered marks. Called only at sign-off, once every file
  // copied in this session is on disk.
  virtual void CommitReadMarks() = 0;
};

}  // namespace qm
