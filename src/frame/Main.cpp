#include "frame/Main.h"

#include <QApplication>
#include <clocale>
#include <exception>
#include <optional>

#include "base/Failure.h"
#include "frame/CatchFailures.h"
#include "frame/MailForm.h"
#include "frame/QtPlatform.h"
#include "frame/ReportFailure.h"
#include "frame/UnattendedRunLog.h"
#include "resources/Translations.h"
#include "settings/CommandLine.h"
#include "settings/Settings.h"

namespace qm {
namespace {

Failure NoDisplayFailure() {
  return Failure(FailureKind::NoDisplay, Cause::kNoDisplay,
                 "no display (DISPLAY and WAYLAND_DISPLAY unset); start with -a to scan "
                 "without a window");
}

// Loads the window and runs it. With no display there is nothing to show:
// the load's scan is the whole run, and nothing is saved.
int ShowWindow(MailForm& form, bool interactive) {
  if (const std::optional<int> ended = form.Load()) return *ended;
  if (!interactive) return 0;
  form.show();
  const int exit_code = QApplication::exec();
  if (const std::optional<int> ended = form.EndCode()) return *ended;
  return exit_code;
}

// The window's run; `last_scan` gets the counts of its latest scan.
int RunWindow(bool interactive, ScanProgress& last_scan) {
  MailForm form;
  const int exit_code = ShowWindow(form, interactive);
  last_scan = form.LastScan();
  return exit_code;
}

// The one place a failure outside the window's own edges is reported.
template <typename Action>
int ReportingFailures(Action action, bool may_show_box) {
  return CatchFailures(action, [may_show_box](const Failure& failure) {
    ReportFailure(failure, may_show_box && HasDisplay());
    return failure.ExitCode();
  });
}

int RunApplication(int& argc, char* argv[], ScanProgress& last_scan) {
  QApplication application(argc, argv);
  ApplyApplicationLook(application);
  const JapaneseWindowTexts japanese;
  // A stale DISPLAY falls back to offscreen: nobody would see the window.
  const bool interactive = HasDisplay();
  if (!interactive && !Settings.AutoRun) throw NoDisplayFailure();
  return ReportingFailures([&] { return RunWindow(interactive, last_scan); }, true);
}

int Start(int& argc, char* argv[], ScanProgress& last_scan) {
  LoadSettings();
  Settings.AutoRun = AutoRunRequested(JoinedCommandLine(argc, argv));
  LogUnattendedStart();
  const PlatformChoice platform = ChooseQtPlatform(ReadDisplayEnvironment());
  if (!platform.may_have_display && !Settings.AutoRun) throw NoDisplayFailure();
  ApplyQtPlatform(platform);
  PrepareRuntimeFolder();
  return RunApplication(argc, argv, last_scan);
}

}  // namespace

// The exit code is decided here, whatever ended the run: an unattended
// run's log ends with it.
int Main(int argc, char* argv[]) {
  std::setlocale(LC_ALL, "");
  ScanProgress last_scan;
  const int exit_code = ReportingFailures([&] { return Start(argc, argv, last_scan); }, false);
  LogUnattendedEnd(exit_code, last_scan);
  return exit_code;
}

}  // namespace qm
