#pragma once
// The mail session: signs on to the mailbox named by the mail profile, owns the
// back-end, and at sign-off applies the read marks.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "store/MailStore.h"

namespace qm {

using StoreOpener = std::function<std::unique_ptr<MailStore>()>;

class MSession {
 public:
  MSession();  // sign-on opens the mailbox of the mail profile (MailProfile.h)
  explicit MSession(StoreOpener opener);  // sign-on opens what `opener` gives
  ~MSession();                            // an open session is discarded: no marks
  MSession(const MSession&) = delete;
  MSession& operator=(const MSession&) = delete;

  void SignOn();                        // opens the store
  std::int32_t SessionHandle() const;   // non-zero while signed on
  void SetDownloadMail(bool download);  // no effect on the local and IMAP stores
  bool DownloadMail() const { return download_mail_; }
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
};

}  // namespace qm
