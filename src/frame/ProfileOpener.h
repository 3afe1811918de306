#pragma once
// Sign-on for the main window: the mailbox of the mail profile, and when that
// cannot be signed on to and someone can see a window, the sign-on dialog to
// choose another one. Without a display the profile's failure stands: it says
// which values to set.

#include <functional>
#include <memory>

#include "mail/MSession.h"

class QWidget;

namespace qm {

class Cancellation;
class Failure;

// Asks the user for a mailbox after `reason`; returns the open store or throws.
using SignOnFallback = std::function<std::unique_ptr<MailStore>(const Failure& reason)>;

// Opens through `from_profile`; a sign-on failure goes to `fallback` when
// `has_display`, every other failure passes unchanged.
StoreOpener WithSignOnFallback(bool has_display, StoreOpener from_profile, SignOnFallback fallback);

// The profile on the platform's registry, falling back to the sign-on dialog
// over `parent` when `has_display`; the dialog opens on `parent`'s thread,
// the caller waiting for it. A request of `cancel` ends every wait for the
// server at once.
StoreOpener ProfileOpener(bool has_display, QWidget* parent, const Cancellation* cancel);

}  // namespace qm
