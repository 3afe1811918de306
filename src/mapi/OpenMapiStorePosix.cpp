#include "base/Failure.h"
#include "mapi/OpenMapiStore.h"

namespace qm {

bool MapiStoreOffered() { return false; }

std::unique_ptr<MailStore> OpenMapiStore(const MapiAccount& /*account*/,
                                         const SignOnRequest& /*request*/) {
  throw Failure(FailureKind::SignOn, Cause::kNoMailProgram,
                "Outlook's mailbox (\"mapi:\") can be read on Windows only: choose a Maildir or an "
                "IMAP mailbox here");
}

}  // namespace qm
