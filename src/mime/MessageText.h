#pragma once
// What one message says, for pairing an encrypted archive with the mails that
// may hold its password: who sent it and when, its subject, the text of its
// body and the names of its attachments.
//
// The body text is that of every text/plain part that is no attachment (no
// Content-Disposition: attachment, no file name), transfer-decoded and
// converted from its charset to UTF-8, in the order of the message, joined
// with blank lines. A message without such a part gives the text of its
// text/html parts instead. Of a multipart/alternative only the plain part is
// read when it has one. An attached message (message/rfc822, a forwarded
// notice) is a message of its own: its text follows, chosen the same way.
// Line breaks are "\n".
//
// Bounds: at most kMaxMessageTextBytes of text (cut at a character
// boundary), the part bounds of PartBounds.h (a message beyond them gives its
// header fields alone), parts nested at most kMaxPartDepth deep (TopPart.h;
// deeper ones are not read).

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qm {

inline constexpr std::size_t kMaxMessageTextBytes = 1024 * 1024;

struct MessageFacts {
  // The address of the first From mailbox, ASCII letters lower-cased.
  std::string sender_address;
  // The Date field as GMime reads it (RFC 5322, obsolete forms too); nothing
  // when there is none or it cannot be read.
  std::optional<std::chrono::system_clock::time_point> date;
  // The Subject, decoded.
  std::string subject;
  // The body text, UTF-8, as described above.
  std::string text;
  // The file names the message's parts declare (Content-Disposition filename
  // or Content-Type name), decoded, in the order of the message, those of
  // attached messages' parts too.
  std::vector<std::string> attachment_names;
};

// The facts of the whole message read from `fd` (seekable; read from offset
// 0). A malformed message gives what can be read of it. Throws
// UnreadableMessage, or a Failure of kind MailStore, only when `fd` cannot
// be read.
MessageFacts ReadMessageFacts(int fd);

}  // namespace qm
