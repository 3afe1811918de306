#pragma once
// The Qt platform and the look of the program. The platform must be chosen
// before the application object exists: a plain start with no display aborts.

#include <QFont>
#include <optional>
#include <string>

class QApplication;

namespace qm {

struct DisplayEnvironment {
  std::optional<std::string> qt_platform;      // QT_QPA_PLATFORM
  std::optional<std::string> x11_display;      // DISPLAY
  std::optional<std::string> wayland_display;  // WAYLAND_DISPLAY
};

struct PlatformChoice {
  std::optional<std::string> platform;  // value for QT_QPA_PLATFORM; none: leave as is
  bool may_have_display = false;        // false: there is surely nothing to show on
};

DisplayEnvironment ReadDisplayEnvironment();

// An explicit QT_QPA_PLATFORM is respected. On Windows the desktop is always
// there. Elsewhere, with neither DISPLAY nor WAYLAND_DISPLAY the offscreen
// platform is used; with DISPLAY, the X11 platform falls back to offscreen
// instead of aborting when the display is stale.
PlatformChoice ChooseQtPlatform(const DisplayEnvironment& environment);

// Sets QT_QPA_PLATFORM for the application object still to be created.
void ApplyQtPlatform(const PlatformChoice& choice);

// Without XDG_RUNTIME_DIR (cron, systemd timers) Qt warns on stderr on every
// start; a private folder of the user's own is made and named instead.
// Nothing on Windows.
void PrepareRuntimeFolder();

// True for the platforms that show nothing: offscreen, minimal.
bool IsHeadlessPlatform(const std::string& name);

// True when the running application shows its windows to someone (not on
// the offscreen or minimal platform).
bool HasDisplay();

// 9 pt, Japanese-capable family first: larger desktop defaults overflow the
// fixed control boxes.
QFont WindowFont();

// Fusion style, the window font and the application icon.
void ApplyApplicationLook(QApplication& application);

}  // namespace qm
