#pragma once
// Whether a session bus can be reached at all, decided from the environment
// alone: an unattended run without one must not start a bus or wait for one.

#include <chrono>

namespace qm {

// True when DBUS_SESSION_BUS_ADDRESS is set, or when $XDG_RUNTIME_DIR/bus is
// a socket: the bus of a logged-in user, which a systemd user timer finds
// there even when its environment names no bus.
bool SessionBusAddressKnown();

// How long the Secret Service may take to answer before the keyring counts
// as unreachable.
inline constexpr std::chrono::milliseconds kSecretServiceAnswerLimit{3000};

}  // namespace qm
