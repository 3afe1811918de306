#pragma once
// Outlook's inbox through Simple MAPI: the listing with MAPIFindNext, each
// message's subject, sender and unread flag from its envelope
// (MAPIReadMail with MAPI_ENVELOPE_ONLY, never marking it read), its
// attachments as the temporary files the mail program writes, and the read
// marks, applied at sign-off, by reading the message once without MAPI_PEEK.

#include <windows.h>
// windows.h first: mapi.h uses its types.
#include <mapi.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mapi/MapiLibrary.h"
#include "mapi/TemporaryFilesRecord.h"
#include "store/MailStore.h"

namespace qm {

class MapiStore : public MailStore {
 public:
  // Takes over the signed-on `session`; signs off when it goes.
  MapiStore(std::shared_ptr<const MapiLibrary> library, LHANDLE session,
            TemporaryFilesRecord record);
  ~MapiStore() override;
  MapiStore(const MapiStore&) = delete;
  MapiStore& operator=(const MapiStore&) = delete;

  std::size_t List() override { return ListOfType(""); }
  std::size_t ListOfType(const std::string& message_type) override;
  bool IsRead(std::size_t index) override;
  Envelope ReadEnvelope(std::size_t index) override;
  std::string Describe(std::size_t index) const override;
  bool GivesAttachmentFiles() const override { return true; }
  std::unique_ptr<MessageAttachments> AttachmentFiles(std::size_t index) override;
  void QueueReadMark(std::size_t index) override;
  void DropReadMark(std::size_t index) override;
  void CommitReadMarks() override;

 private:
  struct Listed {
    std::string id;
    std::optional<Envelope> envelope;  // once read
    bool read = false;
  };
  Listed& EnvelopeOf(std::size_t index);
  ULONG ReadMail(const std::string& id, FLAGS flags, MapiMessagePtr& message);

  std::shared_ptr<const MapiLibrary> library_;
  LHANDLE session_;
  TemporaryFilesRecord record_;
  std::vector<Listed> listed_;
  std::set<std::size_t> marks_;
};

}  // namespace qm
