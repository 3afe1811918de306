#include <windows.h>
// windows.h first: mapi.h uses its types.
#include <mapi.h>

#include "base/Failure.h"
#include "mapi/AnsiCodePage.h"
#include "mapi/MapiLibrary.h"
#include "mapi/MapiResult.h"
#include "mapi/MapiStore.h"
#include "mapi/OpenMapiStore.h"
#include "mapi/TemporaryFilesRecord.h"

namespace qm {

bool MapiStoreOffered() { return true; }

std::unique_ptr<MailStore> OpenMapiStore(const MapiAccount& account, const SignOnRequest& request) {
  std::shared_ptr<const MapiLibrary> library = MapiLibrary::Load();
  TemporaryFilesRecord record(account.temporary_files_record);
  record.RemoveRecorded();  // what a killed run left
  std::optional<std::string> profile;
  if (account.profile) {
    profile = AnsiOfUtf8(*account.profile);
    if (!profile) {
      throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                    "the Outlook profile \"" + *account.profile +
                        "\" has characters the system's code page has not");
    }
  }
  // No new session: one that Outlook has open already is used, which needs
  // no sign-on window.
  FLAGS flags = 0;
  if (request.may_prompt) flags |= MAPI_LOGON_UI;
  if (request.download_mail) flags |= MAPI_FORCE_DOWNLOAD;
  LHANDLE session = 0;
  const ULONG result =
      library->logon(0, profile ? profile->data() : nullptr, nullptr, flags, 0, &session);
  if (result != SUCCESS_SUCCESS) {
    throw MapiSignOnFailure(result, account.profile.value_or(""), request.may_prompt);
  }
  return std::make_unique<MapiStore>(std::move(library), session, std::move(record));
}

}  // namespace qm
