#pragma once
// The message list of a session: fetch the inbox, select a message, read its
// read flag, subject and sender, walk its attachment files, and mark it read.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "mail/ArchivePasswords.h"
#include "save/DestinationFile.h"
#include "store/MailStore.h"

namespace qm {

class MSession;
class MessageAttachments;
class BackgroundWriter;

class MMes {
 public:
  explicit MMes(MSession& session);
  ~MMes();
  MMes(const MMes&) = delete;
  MMes& operator=(const MMes&) = delete;

  void SetSessionHandle(std::int32_t handle);  // binds to the signed-on session
  // The message type the next Fetch lists: "" is every message of the
  // inbox. A mail system with message types (Outlook's) is asked for this
  // one; the other mailboxes know only "".
  void SetMessageTypeFilter(const std::string& filter);
  void Fetch();  // lists the inbox
  std::int64_t MessageCount() const;
  void SetCurrentMessage(std::int64_t index);  // also makes attachment 0 current
  bool IsRead();
  std::string Subject();
  std::string SenderName();
  std::string SenderAddress();
  // The folder attachment files are written into (the destination folder's
  // hidden work folder), held open as `folder` by the caller for as long as
  // this list writes; `path` is where it lies, to show. Set before the first
  // AttachmentFile.
  void WriteFilesInto(int folder, std::filesystem::path path);
  // Lets go of the folder given to WriteFilesInto once the files being
  // written are done: the current message's copy and the files decoded from
  // it, which lie in that folder, are closed. Windows removes no folder
  // while a file in it is open. Never throws: a failed write was reported
  // where the file was added.
  void StopWritingFiles() noexcept;
  // The current attachment's file, written on first read into the folder
  // given to WriteFilesInto (its name there is relative to that folder); an
  // empty name past the last attachment. The file may still be being
  // written when it is returned: see WaitForFiles.
  WrittenFile AttachmentFile();
  // The name the current attachment's file is saved under (before any
  // numbering); "" past the last attachment. Writes nothing.
  std::string AttachmentName();
  void SetAttachmentIndex(std::int32_t index);
  // The index of the current message, and its name for the user (a file,
  // a mailbox and UID).
  std::int64_t CurrentMessage() const { return current_; }
  std::string Describe();
  // Marks the current message read; the mark is applied at sign-off.
  void MarkRead();
  // Takes back the mark of the current message: it could not be read whole.
  void UnmarkRead();
  // True when the mailbox is worth telling ahead which messages the scan
  // will open (a server far away); WillOpen tells it, by message index.
  bool FetchesAhead();
  void WillOpen(const std::vector<std::int64_t>& indexes);
  // What the current message says, for pairing an encrypted archive with
  // the mail that gives its password: sender, date, subject and body text.
  // Nothing when the message is gone or the mailbox hands out attachment
  // files instead of whole messages (Outlook's). Throws UnreadableMessage.
  std::optional<PasswordMail> ReadPasswordMail();
  // When the current message says it was sent (its Date field), read from
  // its attachments' parse: nothing for a message without attachments.
  std::optional<MailTime> SentDate();
  // False for a mailbox whose messages ReadPasswordMail cannot read.
  bool GivesMessageText();
  // Returns once every attachment file handed out so far is completely
  // written; throws the failure of one that could not be. Any thread may call it.
  void WaitForFiles();

 private:
  MailStore& BoundStore();     // throws unless bound to the signed-on session
  std::size_t CurrentIndex();  // throws unless a message is current
  const Envelope& CurrentEnvelope();
  void ForgetCurrentMessage();
  void OpenAttachments();
  std::string FolderFor(const std::string& name);

  MSession& session_;
  std::int32_t handle_ = 0;  // the session handle this list is bound to
  std::int64_t count_ = 0;
  std::int64_t current_ = -1;
  std::int32_t attachment_index_ = 0;
  std::string message_type_;
  // Per current message: its subject and sender once read, its attachments once parsed
  // (null when the message is gone), and the files already extracted.
  std::optional<Envelope> envelope_;
  bool attachments_opened_ = false;
  std::unique_ptr<MessageAttachments> attachments_;
  std::vector<WrittenFile> extracted_;            // by attachment index; no name = not yet
  int files_folder_ = -1;                         // where attachment files are written
  std::filesystem::path files_path_;              // and where that is
  std::unordered_set<std::string> names_at_top_;  // this message's files directly in it
  int subfolders_ = 0;                            // numbered folders made in it
  int next_subfolder_ = 0;                        // where the search for a free one goes on
  // Decodes and writes attachment files while the scan goes on with the next
  // message. Declared last, so that it stops first.
  std::unique_ptr<BackgroundWriter> writer_;
};

}  // namespace qm
