#include "frame/QtPlatform.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include "base/EnvironmentVariable.h"

// Choosing the Qt platform on Linux and other X11/Wayland systems, where a
// display may be X11, Wayland or none at all (cron, systemd timers).

namespace qm {
namespace {

// The folder Qt itself falls back to: <temp>/runtime-<user>.
std::string DefaultRuntimeFolder() {
  const passwd* user = ::getpwuid(::geteuid());
  const std::string name = user != nullptr ? user->pw_name : std::to_string(::geteuid());
  return QDir::tempPath().toStdString() + "/runtime-" + name;
}

bool IsPrivateFolder(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 0077) == 0;
}

}  // namespace

void PrepareRuntimeFolder() {
  if (NonEmptyVariable("XDG_RUNTIME_DIR")) return;
  const std::string folder = DefaultRuntimeFolder();
  ::mkdir(folder.c_str(), 0700);  // an existing one is checked below
  if (IsPrivateFolder(folder)) ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

DisplayEnvironment ReadDisplayEnvironment() {
  return {NonEmptyVariable("QT_QPA_PLATFORM"), NonEmptyVariable("DISPLAY"),
          NonEmptyVariable("WAYLAND_DISPLAY")};
}

PlatformChoice ChooseQtPlatform(const DisplayEnvironment& environment) {
  if (environment.qt_platform) {
    return {std::nullopt, !IsHeadlessPlatform(*environment.qt_platform)};
  }
  // X11 first: a Wayland compositor does not let a program place its window.
  if (environment.x11_display) return {"xcb;offscreen", true};
  if (environment.wayland_display) return {std::nullopt, true};
  return {"offscreen", false};
}

void ApplyQtPlatform(const PlatformChoice& choice) {
  if (choice.platform) ::setenv("QT_QPA_PLATFORM", choice.platform->c_str(), 1);
}

}  // namespace qm
