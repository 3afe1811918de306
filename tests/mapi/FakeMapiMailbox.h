#pragma once
// A mailbox for the stand-in Simple MAPI provider (qm_fake_mapi.dll), written
// by a Windows test. The provider serves the folder named by the environment
// variable QM_FAKE_MAPI_MAILBOX, read at every MAPILogon:
//
//   messages\<id>\envelope.txt  UTF-8 lines subject=, sender=, address=
//   messages\<id>\unread        exists while the message is unread
//   messages\<id>\files\<name>  the attachments, served in UTF-16 name order
//   behaviour.txt               key=value lines: failures on demand
//   temp\<n>\                   where MAPIReadMail writes the attachments
//   calls.log                   one UTF-8 line per call
//
// Behaviours: logon=<code> (MAPILogon returns it), logon-needs-ui=1 (refused
// without MAPI_LOGON_UI), profile=<name> (another non-empty profile is
// refused), vanish=<ids> (MAPIReadMail: MAPI_E_INVALID_MESSAGE),
// unwritable=<ids> (MAPI_E_ATTACHMENT_WRITE_FAILURE, nothing written),
// readmail-delay-ms=<n> (every MAPIReadMail that writes files sleeps that
// long after writing them; the message is marked read only after the sleep);
// <ids> are comma-separated message IDs.
//
// Names are UTF-8 in this API; message IDs are ASCII.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace qm::testing {

class FakeMapiMailbox {
 public:
  struct File {
    std::string name;
    std::string bytes;
  };

  // A fresh empty mailbox, named by QM_FAKE_MAPI_MAILBOX until the end.
  FakeMapiMailbox();
  ~FakeMapiMailbox();
  FakeMapiMailbox(const FakeMapiMailbox&) = delete;
  FakeMapiMailbox& operator=(const FakeMapiMailbox&) = delete;

  // Makes the provider the default mail client of the Wine prefix or the
  // machine (HKLM\Software\Clients\Mail). MAPI32.DLL reads that when it
  // loads: call this before the program loads it. Throws on failure.
  static void Register();
  // The provider DLL as a Windows path.
  static std::wstring ProviderPath();

  const std::filesystem::path& path() const { return folder_.path(); }

  void AddMessage(const std::string& id, const std::string& subject, const std::string& sender,
                  const std::string& address, bool unread, const std::vector<File>& files);
  // Sets one behaviour.txt line, replacing an earlier value of `key`.
  void SetBehaviour(const std::string& key, const std::string& value);

  // The lines of calls.log so far.
  std::vector<std::string> Calls() const;
  bool IsUnread(const std::string& id) const;
  // Every file left under temp\, as sorted paths relative to it with '/'.
  std::vector<std::string> TempFiles() const;

 private:
  TempDir folder_;
  std::map<std::string, std::string> behaviour_;
  std::wstring old_mailbox_;
  bool had_mailbox_ = false;
};

// A UTF-8 name as a path, whatever the narrow code page.
std::filesystem::path PathOfUtf8(const std::string& utf8);

}  // namespace qm::testing
