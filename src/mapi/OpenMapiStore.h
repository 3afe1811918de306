#pragma once
// Opens Outlook's own inbox through the system's Simple MAPI (MAPI32.DLL,
// which hands the calls to the default mail program): Windows only.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "store/MailStore.h"

namespace qm {

struct MapiAccount {
  std::optional<std::string> profile;  // none: the default profile or Outlook's open session
  // Where the paths of the mail program's temporary attachment files are
  // kept until they are removed, so that a run that was killed has its
  // leftovers removed by the next one; "" keeps no such record.
  std::filesystem::path temporary_files_record;
};

// True where Outlook's inbox can be opened at all (Windows).
bool MapiStoreOffered();

// Signs on as `request` allows: the mail program's own sign-on window only
// when someone may answer it, new mail fetched first when asked. Throws
// Failure(SignOn) with the cause the mail program's answer names (no mail
// program, refused, cancelled, a prompt needed that no one may answer, too
// many sessions); elsewhere than on Windows always Failure(SignOn,
// kNoMailProgram).
std::unique_ptr<MailStore> OpenMapiStore(const MapiAccount& account, const SignOnRequest& request);

}  // namespace qm
