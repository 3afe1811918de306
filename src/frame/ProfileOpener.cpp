#include "frame/ProfileOpener.h"

#include <utility>

#include "base/Failure.h"
#include "frame/OnWindowThread.h"
#include "frame/ReportSetAside.h"
#include "frame/SignOnDialog.h"
#include "profile/MailProfile.h"
#include "settings/Registry.h"

namespace qm {

StoreOpener WithSignOnFallback(bool has_display, StoreOpener from_profile,
                               SignOnFallback fallback) {
  return [has_display, from_profile = std::move(from_profile), fallback = std::move(fallback)](
             const SignOnRequest& request) -> std::unique_ptr<MailStore> {
    try {
      return from_profile(request);
    } catch (const Failure& failure) {
      if (!has_display || failure.kind() != FailureKind::SignOn) throw;
      return fallback(failure);
    }
  };
}

StoreOpener ProfileOpener(bool has_display, QWidget* parent, const Cancellation* cancel) {
  const auto from_profile = [cancel](const SignOnRequest& request) {
    return OpenProfileStore(cancel, request);
  };
  const auto through_dialog = [parent](const Failure& reason) {
    return OnWindowThread(parent, [&] {
      const std::unique_ptr<Registry> registry = OpenReportingRegistry();
      return SignOnWithDialog(*registry, reason, parent);
    });
  };
  return WithSignOnFallback(has_display, from_profile, through_dialog);
}

}  // namespace qm
