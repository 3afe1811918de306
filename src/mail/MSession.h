#pragma once
// The mail session: signs on to the mailbox named by the mail profile, owns the
// back-end, and at sign-off applies the read marks.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "store/MailStore.h"

namespace qm {

// Opens the mailbox: signs on as `request` allows.
using StoreOpener = std::function<std::unique_ptr<MailStore>(const SignOnRequest& request)>;

class MSession {
 public:
  MSession();  // sign-on opens the mailbox of the mail profile (MailProfile.h)
  explicit MSession(StoreOpener opener);  // sign-on opens what `opener` gives
  ~MSession();                            // an open session is discarded: no marks
  MSession(const MSession&) = delete;
  MSession& operator=(const MSession&) = delete;

  void SignOn();                       // opens the store
  std::int32_t SessionHandle() const;  // non-zero while signed on
  // Whether the next sign-on has the mail system fetch new mail first (a
  // mail system with a local copy: Outlook's); the other stores always see
  // the mailbox as it is.
  void SetDownloadMail(bool download);
  bool DownloadMail() const { return download_mail_; }
  // Whether someone is there to answer a sign-on window of the mail
  // system's own at the next sign-on (a click on GET, not a run at start).
  void SetPromptAllowed(bool allowed) { prompt_allowed_ = allowed; }
  void SignOff();  // applies the marks
  void Discard();  // ends the session without applying marks
  bool SignedOn() const { return store_ != nullptr; }

  MailStore& Store();  // throws when not signed on

 private:
  StoreOpener opener_;
  std::unique_ptr<MailStore> store_;
  std::int32_t handle_ = 0;
  std::int32_t sign_ons_ = 0;  // the handle of the latest sign-on
  bool download_mail_ = false;
  bool prompt_allowed_ = false;
};

}  // namespace qm
