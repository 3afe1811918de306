// Pictures of the windows, for looking at the Japanese texts by eye: the main
// window, alone and with the summary of a scan, the failure box, the sign-on dialog with and
// without its details, and the progress window. Not a test; run under Xvfb:
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/default/tests/frame/qm_screenshots OUT_DIR
// and for Windows under Wine, with the prefix's DLLs on WINEPATH:
//   xvfb-run -a wine build/windows/tests/frame/qm_screenshots.exe 'Z:\tmp\shots'

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>

#include "base/Failure.h"
#include "frame/MailForm.h"
#include "frame/QtPlatform.h"
#include "frame/ReportFailure.h"
#include "frame/ScanProgressWindow.h"
#include "frame/SignOnDialog.h"
#include "resources/Translations.h"

namespace qm {
namespace {

bool Save(QWidget& widget, const QString& folder, const char* name) {
  widget.show();
  QApplication::processEvents();
  const QString path = folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
  const bool saved = widget.grab().save(path);
  std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
  return saved;
}

// As it opens with no settings stored.
bool MainWindowPicture(const QString& folder) {
  MailForm form;
  return Save(form, folder, "main-window");
}

// After a scan that saved files, unpacked archives and waits for a password;
// and after one that had something of every kind to tell.
bool SummaryPictures(const QString& folder) {
  MailForm form;
  form.ShowSummary(ScanSummary{12, 2, 1, 0, 0});
  bool saved = Save(form, folder, "main-window-summary");
  form.ShowSummary(ScanSummary{1234, 12, 3, 1, 2});
  saved = Save(form, folder, "main-window-summary-long") && saved;
  return saved;
}

bool FailureBoxPicture(const QString& folder) {
  const Failure failure(FailureKind::Destination, Cause::kSystem,
                        "no destination folder is set: choose the folder where attachments "
                        "are saved",
                        ENOENT);
  const std::unique_ptr<QMessageBox> box = FailureBox(failure);
  return Save(*box, folder, "failure-box");
}

bool SignOnPictures(const QString& folder) {
  SignOnDialog dialog({}, false, QString(), [](const MailProfileValues&) {});
  dialog.ShowFailure(Failure(FailureKind::SignOn, Cause::kServerUnreachable,
                             "cannot connect to the mail server mail.example.jp:993: Failed to "
                             "connect to mail.example.jp port 993: Connection refused"));
  bool saved = Save(dialog, folder, "sign-on");
  dialog.findChild<QPushButton*>(QStringLiteral("DETAILS"))->click();
  saved = Save(dialog, folder, "sign-on-details") && saved;
  return saved;
}

bool ProgressPicture(const QString& folder) {
  ScanProgressWindow window;
  ScanProgress progress{1234, 5000, 87};
  progress.current_file = "2026年度 見積書（最終版）.pdf";
  progress.file_started = std::chrono::steady_clock::now() - std::chrono::seconds(3);
  window.Show(progress);
  return Save(window, folder, "progress");
}

}  // namespace
}  // namespace qm

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  qm::ApplyApplicationLook(application);
  const qm::JapaneseWindowTexts japanese;
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  const bool saved = qm::MainWindowPicture(folder) & qm::SummaryPictures(folder) &
                     qm::FailureBoxPicture(folder) & qm::SignOnPictures(folder) &
                     qm::ProgressPicture(folder);
  return saved ? 0 : 1;
}
