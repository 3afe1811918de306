#include "mail/MSession.h"

#include <utility>

#include "base/Failure.h"
#include "profile/MailProfile.h"

namespace qm {
namespace {

Failure NotSignedOn() {
  return Failure(FailureKind::MailStore, Cause::kMailServer, "not signed on");
}

}  // namespace

MSession::MSession()
    : MSession([](const SignOnRequest& request) { return OpenProfileStore(nullptr, request); }) {}

MSession::MSession(StoreOpener opener) : opener_(std::move(opener)) {}

MSession::~MSession() { Discard(); }

void MSession::SignOn() {
  if (SignedOn()) throw Failure(FailureKind::Internal, Cause::kInternal, "already signed on");
  std::unique_ptr<MailStore> store = opener_({download_mail_, prompt_allowed_});
  if (store == nullptr) throw Failure(FailureKind::Internal, Cause::kInternal, "no mail store");
  store_ = std::move(store);
  // Each sign-on gets a new handle, so a message list bound to an earlier
  // session of this object is not taken for bound to this one.
  handle_ = ++sign_ons_;
}

std::int32_t MSession::SessionHandle() const { return handle_; }

void MSession::SetDownloadMail(bool download) { download_mail_ = download; }

void MSession::SignOff() {
  if (!SignedOn()) throw NotSignedOn();
  // The session ends whether or not the marks could be applied.
  struct EndOnExit {
    MSession& session;
    ~EndOnExit() { session.Discard(); }
  } end_on_exit{*this};
  store_->CommitReadMarks();
}

void MSession::Discard() {
  store_.reset();
  handle_ = 0;
}

MailStore& MSession::Store() {
  if (!SignedOn()) throw NotSignedOn();
  return *store_;
}

}  // namespace qm
